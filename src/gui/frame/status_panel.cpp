#include "gui/frame/status_panel.h"

#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QResizeEvent>
#include <QTimer>
#include <algorithm>
#include <cstdio>

#include "link/link_commands.h"
#include "link/protocol.h"
#include "link/recorder_link.h"
#include "platform/byte_order.h"
#include "settings/settings_templates.h"

namespace lyr {

namespace {

using namespace std::chrono;

constexpr int kMargin = 16;  // the block's distance from the edge it follows
constexpr int kSegmentWidth = 18;
constexpr int kSegmentHeight = 7;
constexpr int kSegmentGap = 2;

QString Printf(const char* format, auto... args) {
  char buf[160];
  std::snprintf(buf, sizeof buf, format, args...);
  return QString::fromLatin1(buf);
}

QString Latin1Field(const char* field, size_t width) {
  return QString::fromLatin1(lyr::FieldText(field, width));
}

// The picture beside the meter: the recorder seen from the front.
QPixmap RecorderPicture() {
  QPixmap pixmap(40, 56);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(40, 40, 40), 1.5));
  p.setBrush(QColor(90, 96, 104));
  p.drawRoundedRect(QRectF(3, 2, 34, 52), 6, 6);
  p.setBrush(QColor(150, 200, 160));
  p.drawRect(QRectF(8, 8, 24, 14));
  p.setBrush(QColor(210, 40, 40));
  p.drawEllipse(QPointF(20, 36), 6, 6);
  p.setBrush(QColor(60, 60, 60));
  p.drawEllipse(QPointF(10, 48), 2, 2);
  p.drawEllipse(QPointF(30, 48), 2, 2);
  return pixmap;
}

QLabel* ValueLabel(QWidget* parent, const char* name) {
  auto* label = new QLabel(parent);
  label->setObjectName(QString::fromLatin1(name));
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->setTextFormat(Qt::PlainText);
  label->setMargin(3);
  return label;
}

}  // namespace

CLevelSegment::CLevelSegment(QWidget* parent) : QWidget(parent) {
  setFixedSize(kSegmentWidth, kSegmentHeight);
}

void CLevelSegment::SetColourIndex(int index) {
  if (index == colour_) return;
  colour_ = index;
  update();
}

QColor CLevelSegment::ColourOf(int index) {
  switch (index) {
    case CStatusPanel::kBlack:
      return QColor(0x00, 0x00, 0x00);
    case CStatusPanel::kRed:
      return QColor(0xFF, 0x00, 0x00);
    case CStatusPanel::kGrey:
      return QColor(0x80, 0x80, 0x80);
    case CStatusPanel::kYellow:
      return QColor(0xFF, 0xFF, 0x00);
    case CStatusPanel::kGreen:
      return QColor(0x00, 0xFF, 0x00);
    default:
      return QColor(0xFF, 0xFF, 0xFF);
  }
}

void CLevelSegment::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), ColourOf(colour_));
}

CStatusPanel::CStatusPanel(lyr::RecorderModel& model, lyr::RecorderLink& link, lyr::TaskQueue& worker,
                           QWidget* parent)
    : QWidget(parent), recorder_model_(model), link_(link), worker_(worker) {
  setObjectName(QStringLiteral("status_panel"));
  texts_ = new QWidget(this);
  auto* grid = new QGridLayout(texts_);
  grid->setContentsMargins(8, 4, 4, 4);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(2);
  remaining_ = ValueLabel(texts_, "remaining_time");
  file_type_ = ValueLabel(texts_, "file_type");
  date_time_ = ValueLabel(texts_, "date_time");
  memory_ = ValueLabel(texts_, "memory_version");
  const std::pair<const char*, QLabel*> columns[] = {{"Remaining time", remaining_},
                                                     {"File type", file_type_},
                                                     {"Date\nTime", date_time_},
                                                     {"Memory status\n ver", memory_}};
  // Room for the longest text of each column, so that the panel does not
  // jump as the texts change.
  const QFontMetrics metrics(font());
  const QString widest[] = {
      QStringLiteral("9999h 59m 59s"), QStringLiteral("PCM ST 48 kHz\nWWWWWWWWxxxx.WWWW"),
      QStringLiteral("D 31.12.2099\nT 23:59:59"), QStringLiteral("Free 99999 MB\nV65.535")};
  int column = 0;
  for (const auto& [caption, value] : columns) {
    auto* title = new QLabel(QString::fromLatin1(caption), texts_);
    title->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    grid->addWidget(title, 0, column);
    const QSize room = metrics.size(0, widest[column]);
    value->setMinimumSize(room.width() + 12, metrics.height() * 2 + 12);
    grid->addWidget(value, 1, column, Qt::AlignTop);
    ++column;
  }
  grid->setRowStretch(2, 1);

  separator_ = new QFrame(this);
  separator_->setObjectName(QStringLiteral("separator"));
  separator_->setFrameStyle(QFrame::VLine | QFrame::Sunken);

  block_ = new QWidget(this);
  picture_ = new QLabel(block_);
  picture_->setObjectName(QStringLiteral("picture"));
  picture_->setPixmap(RecorderPicture());
  caption_ = new QLabel(QStringLiteral("CURRENT STATUS"), block_);
  caption_->setObjectName(QStringLiteral("caption"));
  const int column_height = kSegmentCount * (kSegmentHeight + kSegmentGap) - kSegmentGap;
  const QSize caption_size = caption_->sizeHint();
  const int left_width = std::max(caption_size.width(), picture_->sizeHint().width());
  picture_->setGeometry((left_width - 40) / 2, 0, 40, 56);
  caption_->setGeometry(0, 58, caption_size.width(), caption_size.height());
  for (int i = 0; i < kSegmentCount; ++i) {
    segments_[i] = new CLevelSegment(block_);
    segments_[i]->setObjectName(QStringLiteral("segment%1").arg(i));
    // Segment 0 at the bottom.
    segments_[i]->move(left_width + 10, column_height - (i + 1) * kSegmentHeight - i * kSegmentGap);
  }
  block_->resize(left_width + 10 + kSegmentWidth, std::max(column_height, 58 + caption_size.height()));

  clock_timer_ = new QTimer(this);
  clock_timer_->setObjectName("clockTimer");
  clock_timer_->setInterval(kClockIntervalMs);
  connect(clock_timer_, &QTimer::timeout, this, &CStatusPanel::Tick);
  clock_timer_->start();

  SetLevel(0);
  recorder_model_.AddListener(this);
}

CStatusPanel::~CStatusPanel() { recorder_model_.RemoveListener(this); }

std::array<int, CStatusPanel::kSegmentCount> CStatusPanel::LevelColours(int level) {
  const int q = level < 220 ? 0 : level <= 330 ? (level - 220) / 10 : 33;
  std::array<int, kSegmentCount> colours;
  colours.fill(kGreen);
  if (q <= 9)
    for (int i = 9; i >= q; --i) colours[i] = kGrey;
  if (q >= 2 && q <= 9) colours[q] = colours[q - 1] = kYellow;
  if (q == 1) colours[0] = kRed;
  return colours;
}

void CStatusPanel::SetLevel(int level) {
  const auto colours = LevelColours(level);
  for (int i = 0; i < kSegmentCount; ++i) segments_[i]->SetColourIndex(colours[i]);
}

QString CStatusPanel::RemainingTimeText() const { return remaining_->text(); }
QString CStatusPanel::FileTypeText() const { return file_type_->text(); }
QString CStatusPanel::DateTimeText() const { return date_time_->text(); }
QString CStatusPanel::MemoryText() const { return memory_->text(); }
int CStatusPanel::SegmentColour(int segment) const { return segments_.at(segment)->ColourIndex(); }

bool CStatusPanel::RecorderUsable() const {
  return model_ != nullptr && link_.IsDriveOpen() && link_.IsAccessGranted() && !link_.IsRecorderRefused();
}

void CStatusPanel::Show() {
  if (!RecorderUsable()) {
    Clear();
    return;
  }
  // The texts from what the model holds now, and again when the fresh read
  // comes back.
  ShowFromModel();
  StartRead();
}

void CStatusPanel::Clear() {
  for (QLabel* label : {remaining_, file_type_, date_time_, memory_}) label->clear();
  picture_->clear();
  caption_->clear();
  SetLevel(0);
}

void CStatusPanel::ShowFromModel() {
  lyr::RecorderModel& model = *model_;
  const lyr::FileFormatTemplate format = model.SettingsFileFormat();
  int64_t bit_rate = format.codecid == lyr::protocol::kCodecLinearPcm
                         ? int64_t{format.bits} * format.channels * format.samplerate
                         : int64_t{static_cast<int32_t>(format.bitrate)};
  if (bit_rate <= 0) bit_rate = 8;
  // A bit rate under 8 would make a byte rate of 0; the time left is then
  // counted at one byte a second.
  const uint64_t bytes_per_second = static_cast<uint64_t>(std::max<int64_t>(bit_rate / 8, 1));
  const lyr::MemoryFigures memory = model.Memory();
  const uint64_t free_bytes = uint64_t{std::min(memory.free_units, memory.size_units)} * memory.unit_size;
  const uint64_t s = free_bytes / bytes_per_second;
  remaining_->setText(Printf("%4uh %02um %02us", static_cast<unsigned>(s / 3600),
                             static_cast<unsigned>((s / 60) % 60), static_cast<unsigned>(s % 60)));

  const uint16_t version = model.FirmwareVersion();
  memory_->setText(Printf("Free %d MB\nV%u.%03u", static_cast<int>(memory.FreeBytes() / 1048576),
                          static_cast<unsigned>(version / 1000), static_cast<unsigned>(version % 1000)));

  file_type_->setText(QStringLiteral("%1 %2 %3 kHz\n%4xxxx.%5")
                          .arg(format.codecid == lyr::protocol::kCodecLinearPcm ? "PCM" : "MP2")
                          .arg(format.channels == 1 ? "MO" : "ST")
                          .arg(static_cast<int>(format.samplerate / 1000))
                          .arg(Latin1Field(format.filename, sizeof format.filename))
                          .arg(Latin1Field(format.extname, sizeof format.extname)));

  if (const auto now = model.RecorderNow()) {
    const lyr::RecorderClock c = lyr::BreakDown(*now);
    date_time_->setText(
        Printf("D %02d.%02d.%d\nT %02d:%02d:%02d", c.day, c.month, c.year, c.hour, c.minute, c.second));
  } else {
    date_time_->clear();
  }
  if (picture_->pixmap().isNull()) picture_->setPixmap(RecorderPicture());
  caption_->setText(QStringLiteral("CURRENT STATUS"));
  SetLevel(lyr::GetU16(model.Device().data() + kDevLevel));
}

void CStatusPanel::StartRead() {
  if (reading_) {
    read_again_ = true;
    return;
  }
  reading_ = true;
  // The worker reads into copies of the records; a read that fails keeps
  // the model's copy.
  lyr::DeviceRecord device = model_->Device();
  lyr::MemoryStatusRecord memory = model_->MemoryStatus();
  lyr::RecorderLink* link = &link_;
  QPointer<CStatusPanel> self(this);
  worker_.Post([self, link, device, memory]() mutable {
    const auto read_at = steady_clock::now();
    lyr::LinkCommands commands(*link);
    const lyr::Result<lyr::DeviceRecord> device_read = commands.GetDeviceInfo();
    const lyr::Result<lyr::MemoryStatusRecord> memory_read = commands.GetMemoryStatus();
    const bool device_ok = device_read.ok();
    const bool memory_ok = memory_read.ok();
    if (device_ok) device = device_read.value();
    if (memory_ok) memory = memory_read.value();
    // Carried by the application: the panel may be gone by then.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [=] {
          if (!self.isNull()) self->TakeRead(device_ok, device, memory_ok, memory, read_at);
        },
        Qt::QueuedConnection);
  });
}

void CStatusPanel::TakeRead(bool device_ok, const lyr::DeviceRecord& device, bool memory_ok,
                            const lyr::MemoryStatusRecord& memory, steady_clock::time_point read_at) {
  reading_ = false;
  if (model_ != nullptr && (device_ok || memory_ok)) {
    // The refresh time moves only with a clock that was read, and not back:
    // a page that set the clock meanwhile has put a newer record in the
    // model than this one, read before the clock changed.
    if (device_ok && read_at >= model_->RefreshSteady())
      model_->TakeStatus(device, memory_ok ? memory : model_->MemoryStatus(), read_at);
    else if (memory_ok)
      model_->MemoryStatus() = memory;
  }
  if (RecorderUsable()) {
    ShowFromModel();
  } else {
    Clear();
  }
  emit statusRead();
  if (read_again_) {
    read_again_ = false;
    if (RecorderUsable()) StartRead();
  }
}

void CStatusPanel::Tick() {
  if (!RecorderUsable()) return;
  const auto now = model_->RecorderNow();
  if (!now) return;
  const lyr::RecorderClock c = lyr::BreakDown(*now);
  date_time_->setText(
      Printf("D %02d.%02d.%2d\nT %02d:%02d:%02d", c.day, c.month, c.year, c.hour, c.minute, c.second));
}

QSize CStatusPanel::minimumSizeHint() const {
  const QSize texts = texts_->sizeHint();
  return QSize(texts.width() + 2 + 2 * kMargin + block_->width(),
               std::max(texts.height(), block_->height() + 2 * 6));
}

QSize CStatusPanel::sizeHint() const { return minimumSizeHint() + QSize(40, 0); }

void CStatusPanel::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  PlaceBlock();
}

// The picture, its caption and the meter move as one block: at the right end
// of the bar when it is wide enough, else just right of the separator.
void CStatusPanel::PlaceBlock() {
  const QSize texts = texts_->sizeHint();
  texts_->setGeometry(0, 0, texts.width(), height());
  separator_->setGeometry(texts.width() + 2, 4, 2, height() - 8);
  const int after_separator = separator_->geometry().right() + kMargin;
  const int at_right = width() - kMargin - block_->width();
  block_->move(std::max(after_separator, at_right), std::max(0, (height() - block_->height()) / 2));
}

}  // namespace lyr
