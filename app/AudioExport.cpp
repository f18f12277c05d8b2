#include "app/AudioExport.h"

#include <QProgressDialog>
#include <QTimer>

namespace pulsewright {

AudioExport::AudioExport(QWidget* parent, std::shared_ptr<const Song> song, const QString& path,
                         RenderSettings settings)
    : QObject(parent), song_(std::move(song)), path_(path) {
  dialog_ = new QProgressDialog("Exporting " + path + " ...", "Cancel", 0, 1000, parent);
  dialog_->setWindowTitle("Export Audio");
  dialog_->setMinimumDuration(300);
  connect(dialog_, &QProgressDialog::canceled, this, [this] { cancel_.store(true); });
  timer_ = new QTimer(this);
  connect(timer_, &QTimer::timeout, this, &AudioExport::poll);
  timer_->start(50);
  worker_ = std::thread([this, file = path.toStdString(), settings = std::move(settings)] {
    result_ = renderSong(*song_, file, settings, [this](double fraction) {
      permille_.store(static_cast<int>(fraction * 1000));
      return !cancel_.load();
    });
    done_.store(true);
  });
}

AudioExport::~AudioExport() {
  cancel_.store(true);
  if (worker_.joinable()) worker_.join();
  delete dialog_;
}

void AudioExport::poll() {
  if (!done_.load()) {
    if (!dialog_->wasCanceled()) dialog_->setValue(permille_.load());
    return;
  }
  timer_->stop();
  worker_.join();
  dialog_->reset();
  dialog_->hide();
  emit finished();
}

QString AudioExport::summary() const {
  QString text;
  switch (result_.status) {
    case RenderResult::Status::kDone: text = "Exported " + path_; break;
    case RenderResult::Status::kCancelled: text = "Export cancelled: no file was written"; break;
    default: text = "Export failed: " + QString::fromStdString(result_.message); break;
  }
  for (const std::string& note : result_.notes) text += "\n" + QString::fromStdString(note);
  return text;
}

}  // namespace pulsewright
