#include "gui/settings/file_type_page.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <cstring>

#include "gui/settings/choice_list.h"
#include "link/link_commands.h"
#include "link/protocol.h"
#include "link/recorder_link.h"
#include "platform/trace.h"

namespace lyr {

namespace {

constexpr uint32_t kPcm = lyr::protocol::kCodecLinearPcm;
constexpr uint32_t kMpeg = lyr::protocol::kCodecMpegLayer2;
constexpr uint32_t kDefaultMpegBitRate = 128000;

QComboBox* List(QWidget* parent, const char* name) {
  auto* list = new QComboBox(parent);
  list->setObjectName(QString::fromLatin1(name));
  return list;
}

QLineEdit* Edit(QWidget* parent, const char* name) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QString::fromLatin1(name));
  edit->setValidator(new Latin1TextValidator(edit));
  edit->setFixedWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("WWWW")) + 16);
  return edit;
}

QPushButton* OkButton(QWidget* parent, const char* name) {
  auto* button = new QPushButton(QStringLiteral("OK"), parent);
  button->setObjectName(QString::fromLatin1(name));
  button->setAutoDefault(false);
  return button;
}

// Stores the chosen value in `field` when it differs; true when it did.
template <class Field>
bool TakeChoice(const QComboBox* list, Field& field) {
  const int64_t value = ChoiceValue(list);
  if (value < 0 || field == value) return false;
  field = static_cast<Field>(value);
  return true;
}

// The edit's first line, at most 32 characters, in a zeroed buffer.
std::array<char, 32> EditBytes(const QLineEdit* edit) {
  std::array<char, 32> buffer{};
  const QByteArray text = edit->text().section(QLatin1Char('\n'), 0, 0).toLatin1();
  std::memcpy(buffer.data(), text.constData(), std::min<size_t>(text.size(), buffer.size()));
  return buffer;
}

}  // namespace

CFileTypePage::CFileTypePage(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
                             QWidget* parent)
    : CSettingsPage(model, link, worker, QStringLiteral("FILE TYPE"), true, parent) {
  setObjectName(QStringLiteral("file_type_page"));
  auto* grid = new QGridLayout(Body());
  type_ = List(Body(), "type");
  channels_ = List(Body(), "channels");
  rate_ = List(Body(), "sampling");
  bitrate_ = List(Body(), "bitrate");
  name_ = Edit(Body(), "file_name");
  ext_ = Edit(Body(), "file_ext");
  QPushButton* name_ok = OkButton(Body(), "file_name_ok");
  QPushButton* ext_ok = OkButton(Body(), "file_ext_ok");
  auto* number = new QLabel(QStringLiteral("xxxx"), Body());
  number->setObjectName(QStringLiteral("file_number"));

  int row = 0;
  for (auto [caption, list] : {std::pair{"Type", type_}, std::pair{"Channels", channels_},
                               std::pair{"Sampling F", rate_}, std::pair{"Bitrate", bitrate_}}) {
    grid->addWidget(new QLabel(QString::fromLatin1(caption), Body()), row, 0);
    grid->addWidget(list, row, 1, 1, 3);
    ++row;
  }
  grid->addWidget(new QLabel(QStringLiteral("File name"), Body()), row, 0);
  grid->addWidget(name_, row, 1);
  grid->addWidget(number, row, 2);
  grid->addWidget(name_ok, row, 3);
  ++row;
  grid->addWidget(new QLabel(QStringLiteral("File ext."), Body()), row, 0);
  grid->addWidget(ext_, row, 1);
  grid->addWidget(ext_ok, row, 3);
  grid->setColumnStretch(2, 1);

  connect(type_, &QComboBox::activated, this, &CFileTypePage::TypeChanged);
  connect(channels_, &QComboBox::activated, this, &CFileTypePage::ChannelsChanged);
  connect(rate_, &QComboBox::activated, this, &CFileTypePage::RateChanged);
  connect(bitrate_, &QComboBox::activated, this, &CFileTypePage::BitrateChanged);
  connect(name_ok, &QPushButton::clicked, this, &CFileTypePage::NameOk);
  connect(ext_ok, &QPushButton::clicked, this, &CFileTypePage::ExtOk);
  // Apply sends what the fields show: typing is a change Apply can send.
  connect(name_, &QLineEdit::textEdited, this, &CFileTypePage::MarkChanged);
  connect(ext_, &QLineEdit::textEdited, this, &CFileTypePage::MarkChanged);

  Prepare();
  LoadFromModel();
  Show();
}

void CFileTypePage::Prepare() {
  // The lists the recorder's rules offer, shared with lyrctl set-filetype.
  const auto fill = [](QComboBox* box, const auto& choices) {
    box->clear();
    for (const lyr::FileTypeChoice& c : choices) AddChoice(box, c.text, c.value);
  };
  fill(type_, lyr::kFileTypeCodecs);
  fill(channels_, lyr::kFileTypeChannels);
  fill(rate_, lyr::kFileTypeSampleRates);
  fill(bitrate_, lyr::kFileTypeBitRates);
  name_->setMaxLength(kNameChars);
  ext_->setMaxLength(kExtChars);
}

void CFileTypePage::LoadFromModel() {
  if (model_ != nullptr) {
    block_ = model_->SettingsFileFormat();
  } else {
    block_ = lyr::FileFormatTemplate{};
    block_.codecid = kPcm;
    block_.samplerate = 44100;
    block_.bitrate = 128000;
    block_.channels = 2;
    block_.bits = 16;
    lyr::SetFieldText(block_.filename, sizeof block_.filename, "USER");
    lyr::SetFieldText(block_.extname, sizeof block_.extname, "WAV");
  }
  MarkClean();
}

void CFileTypePage::Show() {
  // A value the lists do not offer shows no choice and stays in the block
  // as the recorder gave it.
  SelectChoice(type_, block_.codecid);
  if (block_.codecid != kPcm) {
    bitrate_->setEnabled(true);
    SelectChoice(bitrate_, block_.bitrate);
  } else {
    bitrate_->setEnabled(false);
    bitrate_->setCurrentIndex(-1);  // PCM has no bit rate to choose
  }
  SelectChoice(channels_, block_.channels);
  SelectChoice(rate_, block_.samplerate);
  name_->setText(QString::fromLatin1(lyr::FieldText(block_.filename, sizeof block_.filename)));
  ext_->setText(QString::fromLatin1(lyr::FieldText(block_.extname, sizeof block_.extname)));
  if (TraceEnabled()) {
    // Where the fields are once laid out, for the end-to-end test.
    QTimer::singleShot(200, this, [this] {
      if (!isVisible()) return;
      const auto at = [](const QWidget* w) { return w->mapToGlobal(w->rect().center()); };
      const QPoint name = at(name_), ext = at(ext_);
      const QPoint apply = at(findChild<QPushButton*>(QStringLiteral("apply")));
      Trace("settings: FILE TYPE fields at %d,%d and %d,%d, Apply at %d,%d\n", name.x(), name.y(), ext.x(),
            ext.y(), apply.x(), apply.y());
    });
  }
}

void CFileTypePage::RecomputePcmBitRate() {
  if (block_.codecid == kPcm) block_.bitrate = lyr::PcmBitRate(block_);
}

void CFileTypePage::TypeChanged() {
  const int64_t codec = ChoiceValue(type_);
  if (codec < 0) return;
  if (codec != kPcm) {
    bitrate_->setEnabled(true);
    SelectChoice(bitrate_, kDefaultMpegBitRate);
    if (block_.bitrate != kDefaultMpegBitRate) {
      block_.bitrate = kDefaultMpegBitRate;
      MarkChanged();
    }
  } else {
    bitrate_->setEnabled(false);
    bitrate_->setCurrentIndex(-1);
  }
  if (block_.codecid != static_cast<uint32_t>(codec)) {
    block_.codecid = static_cast<uint32_t>(codec);
    RecomputePcmBitRate();
    MarkChanged();
  }
}

void CFileTypePage::ChannelsChanged() {
  if (!TakeChoice(channels_, block_.channels)) return;
  RecomputePcmBitRate();
  MarkChanged();
}

void CFileTypePage::RateChanged() {
  if (!TakeChoice(rate_, block_.samplerate)) return;
  RecomputePcmBitRate();
  MarkChanged();
}

void CFileTypePage::BitrateChanged() {
  if (TakeChoice(bitrate_, block_.bitrate)) MarkChanged();
}

void CFileTypePage::NameOk() {
  const auto text = EditBytes(name_);
  if (std::memcmp(text.data(), block_.filename, sizeof block_.filename) == 0) return;
  std::memcpy(block_.filename, text.data(), sizeof block_.filename);
  MarkChanged();
}

void CFileTypePage::ExtOk() {
  // Never more than kExtChars bytes: the field's last byte stays its terminator.
  auto text = EditBytes(ext_);
  std::fill(text.begin() + kExtChars, text.end(), '\0');
  if (std::memcmp(text.data(), block_.extname, sizeof block_.extname) == 0) return;
  std::memcpy(block_.extname, text.data(), sizeof block_.extname);
  MarkChanged();
}

QString CFileTypePage::TakeTypedFields() {
  // The checks of the edits themselves: text the recorder's character set
  // cannot hold (given by the recorder or set from outside) is refused.
  for (auto [edit, what] : {std::pair{name_, "file name"}, std::pair{ext_, "file extension"}}) {
    if (!edit->hasAcceptableInput())
      return QString("The %1 \"%2\" cannot be sent: it takes only printable Latin-1 characters.")
          .arg(what, edit->text());
  }
  NameOk();
  ExtOk();
  return {};
}

void CFileTypePage::Apply() {
  if (IsBusy()) return;
  // What the fields show goes, as if each "OK" had been pressed, or nothing.
  if (const QString refused = TakeTypedFields(); !refused.isEmpty()) {
    auto* box = new QMessageBox(QMessageBox::Warning, Title(), refused, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("applyRefused"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
    return;
  }
  // The record as it will be sent: the model's, with this page's block and
  // the fixed input values. The model takes it once the recorder has.
  lyr::SettingsRecord record = recorder_model_.Settings();
  block_.ToBytes(record.data() + lyr::InputTemplate::kSize);
  lyr::RecorderModel::PutFixedValues(record);
  RunOnLink([record](lyr::RecorderLink& link) { return lyr::LinkCommands(link).WriteSettings(record).ok(); },
            [this, record](bool written) {
              if (!written) {
                // The recorder did not take it: the page keeps its changes
                // and says so.
                MarkChanged();
                return;
              }
              recorder_model_.Settings() = record;
              recorder_model_.NotifyListeners(this);
              LoadFromModel();
              Show();
              MarkClean();
            });
}

}  // namespace lyr
