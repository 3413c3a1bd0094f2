#pragma once

#include <QDialog>

#include "core/fs/filesystem.hpp"

class QComboBox;
class QDoubleSpinBox;
class QLabel;
class QSpinBox;

namespace packmeter::qt {

// The small dialog behind "Compress with...": the algorithm and its level where the volume
// offers a choice (btrfs), and the threshold under which a file is left plain. Where only one
// method exists (NTFS) it offers the threshold alone and says why.
class CompressWithDialog : public QDialog {
    Q_OBJECT

  public:
    CompressWithDialog(const CompressionChoice& choice, bool algorithms, QWidget* parent);

    // The choice as the dialog shows it now.
    CompressionChoice Choice() const;
    QComboBox* AlgorithmBox() const { return algorithm_; }
    QSpinBox* LevelBox() const { return level_; }
    QDoubleSpinBox* MinSavingBox() const { return minSaving_; }
    QLabel* Explanation() const { return explanation_; }

  private:
    // The level's range follows the algorithm (none for lzo).
    void AlgorithmChanged();

    QComboBox* algorithm_ = nullptr;
    QSpinBox* level_ = nullptr;
    QDoubleSpinBox* minSaving_ = nullptr;
    QLabel* explanation_ = nullptr;
    bool algorithms_;
};

// The last choice, kept in the program's settings (QSettings), and storing a new one.
CompressionChoice LoadCompressionChoice();
void SaveCompressionChoice(const CompressionChoice& choice);

}  // namespace packmeter::qt
