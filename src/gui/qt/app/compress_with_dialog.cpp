#include "gui/qt/app/compress_with_dialog.hpp"

#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

#include "core/app/estimate_result.hpp"
#include "gui/qt/framework/owned.hpp"
#include "gui/qt/framework/qt_text.hpp"

namespace packmeter::qt {

CompressWithDialog::CompressWithDialog(const CompressionChoice& choice, bool algorithms,
                                       QWidget* parent)
    : QDialog(parent), algorithms_(algorithms) {
    setWindowTitle(kCompressWithTitle);
    setObjectName("CompressWithDialog");
    auto* column = MakeOwned<QVBoxLayout>(this);
    auto* form = MakeOwned<QFormLayout>();
    column->addLayout(form);
    algorithm_ = MakeOwned<QComboBox>(this);
    algorithm_->setObjectName("AlgorithmBox");
    for (const AlgorithmOffer& offer : kAlgorithmOffers) {
        algorithm_->addItem(offer.name);
    }
    level_ = MakeOwned<QSpinBox>(this);
    level_->setObjectName("LevelBox");
    minSaving_ = MakeOwned<QDoubleSpinBox>(this);
    minSaving_->setObjectName("MinSavingBox");
    minSaving_->setRange(0, 100);
    minSaving_->setDecimals(0);
    minSaving_->setSuffix(" %");
    minSaving_->setValue(choice.minSavingPercent);
    explanation_ = MakeOwned<QLabel>(algorithms ? kAlgorithmsText : kOnlyLznt1Text, this);
    explanation_->setObjectName("Explanation");
    explanation_->setWordWrap(true);
    if (algorithms) {
        form->addRow(kAlgorithmLabel, algorithm_);
        form->addRow(kLevelLabel, level_);
        const AlgorithmOffer& offer = OfferOf(choice);
        algorithm_->setCurrentIndex(algorithm_->findText(offer.name));
        AlgorithmChanged();
        if (choice.level > 0 && offer.maxLevel > 0) {
            level_->setValue(choice.level);
        }
        connect(algorithm_, &QComboBox::currentIndexChanged, this,
                &CompressWithDialog::AlgorithmChanged);
    } else {
        algorithm_->hide();
        level_->hide();
    }
    form->addRow(kMinSavingLabel, minSaving_);
    column->addWidget(explanation_);
    auto* buttons =
        MakeOwned<QDialogButtonBox>(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText("&Compress");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(buttons);
    // Wide enough for the explanation to wrap into a few lines.
    setMinimumWidth(Scaled(*this, 360));
}

void CompressWithDialog::AlgorithmChanged() {
    const AlgorithmOffer& offer =
        kAlgorithmOffers[std::size_t(std::max(0, algorithm_->currentIndex()))];
    level_->setEnabled(offer.maxLevel > 0);
    level_->setRange(offer.minLevel, offer.maxLevel);
    level_->setValue(offer.defaultLevel);
    level_->setSpecialValueText(offer.maxLevel > 0 ? QString() : QString("none"));
}

CompressionChoice CompressWithDialog::Choice() const {
    CompressionChoice choice;
    if (algorithms_) {
        const AlgorithmOffer& offer =
            kAlgorithmOffers[std::size_t(std::max(0, algorithm_->currentIndex()))];
        choice.algorithm = offer.algorithm;
        choice.level = offer.maxLevel > 0 ? level_->value() : 0;
    }
    choice.minSavingPercent = minSaving_->value();
    return choice;
}

// The settings lie beside the list's: the organisation and the application's title.
CompressionChoice LoadCompressionChoice() {
    QSettings settings("QEL Software", QCoreApplication::applicationName());
    settings.beginGroup(kChoiceSettingsGroup);
    return LoadChoice({settings.value(kChoiceMethodName).toString().toStdString(),
                       settings.value(kChoiceMinSavingName).toString().toStdString()});
}

void SaveCompressionChoice(const CompressionChoice& choice) {
    QSettings settings("QEL Software", QCoreApplication::applicationName());
    settings.beginGroup(kChoiceSettingsGroup);
    const ChoiceSettings stored = StoreChoice(choice);
    settings.setValue(kChoiceMethodName, Text(stored.method));
    settings.setValue(kChoiceMinSavingName, Text(stored.minSaving));
}

}  // namespace packmeter::qt
