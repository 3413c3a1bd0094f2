#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>

#include "core/shell/dir_mon.hpp"

namespace packmeter::qt {

// What a directory monitor's watch posts runs on the thread of `context` (the window) as a
// queued call; once `context` is gone, queued calls are dropped. The monitor must end before
// `context` does.
inline PostToOwner QueuedPoster(QObject* context) {
    return [context](std::function<void()> run) {
        QMetaObject::invokeMethod(context, std::move(run), Qt::QueuedConnection);
    };
}

}  // namespace packmeter::qt
