#pragma once

// Hands the compression commands' calls on to a main window, so that both toolkits' windows
// share one adapter. `Form` has these members (private ones with CommandSink<Form> as a
// friend): CommandBeep(), CommandStatusText(), UpdateItem(name, item), ClearCommandSelection(),
// SetCommandProgress(progress), SetCommandFailures(failures) and AskStopCommand(question).

#include <string>
#include <vector>

#include "core/app/compression_commands.hpp"

namespace packmeter {

template <class Form>
class CommandSink final : public CommandView {
  public:
    explicit CommandSink(Form& form) : form_(form) {}

    void Beep() override { form_.CommandBeep(); }
    std::string StatusText() const override { return form_.CommandStatusText(); }
    void UpdateItem(const std::string& name, const ListItem& item) override {
        form_.UpdateItem(name, item);
    }
    void ClearSelection() override { form_.ClearCommandSelection(); }
    void SetCommandProgress(const CommandProgress& progress) override {
        form_.SetCommandProgress(progress);
    }
    void SetCommandFailures(const std::vector<CompressionFailure>& failures) override {
        form_.SetCommandFailures(failures);
    }
    bool AskStopCommand(const std::string& question) override {
        return form_.AskStopCommand(question);
    }

  private:
    Form& form_;
};

}  // namespace packmeter
