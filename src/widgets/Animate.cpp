#include "Animate.h"

#include "Exception.h"
#include "Messages.h"

#include <QPainter>

namespace vrk {

TAnimate::TAnimate(QWidget* parent) : QWidget(parent) {
  // Transparent over the grid: no background of its own, and clicks go to
  // whatever lies beneath.
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAutoFillBackground(false);
  connect(&m_timer, &QTimer::timeout, this, &TAnimate::step);
}

void TAnimate::setResName(const QString& name) {
  loadClip(QStringLiteral(":/avi/") + name + QStringLiteral(".png"));
  m_resName = name;
  m_common = TCommonAVI::aviNone;
}

void TAnimate::setCommonAVI(TCommonAVI avi) {
  if (avi == TCommonAVI::aviNone) {
    unload();
  } else {
    loadClip(QStringLiteral(":/avi/CopyFiles.png"));
  }
  m_common = avi;
  m_resName.clear();
}

void TAnimate::loadClip(const QString& path) {
  setActive(false);
  QImage strip(path);
  const int frames = strip.text(QStringLiteral("Frames")).toInt();
  const int rate = strip.text(QStringLiteral("Rate")).toInt();
  if (strip.isNull() || frames <= 0 || rate <= 0 || strip.width() % frames != 0) {
    throw Exception(msg::text(msg::CannotOpenAvi));
  }
  m_strip = std::move(strip);
  m_frameCount = frames;
  m_rate = rate;
  m_frameSize = QSize(m_strip.width() / frames, m_strip.height());
  m_frame = 0;
  resize(m_frameSize);
  update();
}

void TAnimate::unload() {
  setActive(false);
  m_strip = QImage();
  m_frameCount = 0;
  m_rate = 0;
  m_frameSize = QSize();
  m_frame = 0;
  update();
}

void TAnimate::setActive(bool on) {
  if (!on) {
    m_timer.stop();
    return;
  }
  if (m_frameCount == 0) throw Exception(msg::text(msg::CannotOpenAvi));
  m_frame = 0;
  m_timer.start(1000 / m_rate);
  emit frameChanged(m_frame);
  update();
}

void TAnimate::play(const QString& resName) {
  setResName(resName);
  showCentred();
}

void TAnimate::play(TCommonAVI avi) {
  setCommonAVI(avi);
  showCentred();
}

void TAnimate::showCentred() {
  move(centredLeft(window()->frameGeometry().width(), width()), y());
  setVisible(true);
  setActive(true);
}

void TAnimate::stop() {
  setVisible(false);
  setActive(false);
}

void TAnimate::step() {
  m_frame = (m_frame + 1) % m_frameCount;
  emit frameChanged(m_frame);
  update();
}

QImage TAnimate::frameImage(int frame) const {
  if (m_frameCount == 0) return QImage();
  return m_strip.copy(frame * m_frameSize.width(), 0, m_frameSize.width(), m_frameSize.height());
}

void TAnimate::paintEvent(QPaintEvent*) {
  if (m_frameCount == 0) return;
  QPainter p(this);
  p.drawImage(QPoint(0, 0), m_strip,
              QRect(m_frame * m_frameSize.width(), 0, m_frameSize.width(), m_frameSize.height()));
}

}  // namespace vrk
