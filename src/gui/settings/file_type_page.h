#pragma once
#include "gui/settings/settings_page.h"
#include "settings/file_type_rules.h"
#include "settings/settings_templates.h"

class QComboBox;
class QLineEdit;
class QPushButton;

namespace lyr {

// FILE TYPE: the recording format the recorder uses for its next recordings.
// The page edits its own copy of the file-type block (bytes 60..119 of the
// settings record) and sends it with "Apply".
class CFileTypePage : public CSettingsPage {
  Q_OBJECT

 public:
  // The file name prefix edit takes 4 characters. The extension field is 4
  // bytes wide and must keep its terminator, so its edit takes 3.
  static constexpr int kNameChars = static_cast<int>(lyr::kFileTypePrefixMax);
  static constexpr int kExtChars = static_cast<int>(lyr::kFileTypeExtensionMax);

  CFileTypePage(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
                QWidget* parent = nullptr);

  void LoadFromModel() override;
  void Prepare() override;
  void Show() override;

  // The page's copy of the file-type block.
  const lyr::FileFormatTemplate& Block() const { return block_; }

 public slots:
  void Apply() override;

 private:
  void TypeChanged();
  void ChannelsChanged();
  void RateChanged();
  void BitrateChanged();
  void NameOk();
  void ExtOk();
  // Takes the prefix and extension as typed, as their "OK" would; the
  // reason when they cannot be sent, else empty.
  QString TakeTypedFields();
  void RecomputePcmBitRate();

  lyr::FileFormatTemplate block_;
  QComboBox* type_ = nullptr;
  QComboBox* channels_ = nullptr;
  QComboBox* rate_ = nullptr;
  QComboBox* bitrate_ = nullptr;
  QLineEdit* name_ = nullptr;
  QLineEdit* ext_ = nullptr;
};

}  // namespace lyr
