// Draws the program's animation clips and writes each as one PNG strip of
// frames laid side by side, 8-bit indexed, with the frame count and rate in
// the PNG's text keys "Frames" and "Rate". Run at build time; the strips are
// compiled into the program's resources.
//
//   vrk_clipgen <output directory>
//
// AVI_1: 50 frames, 80 x 50, 15 per second: two computers, packets travelling
//        between them (a transfer is running).
// AVI_2: 7 frames, 32 x 32, 5 per second: a Zip file whose clamp opens and
//        lets a page out (unpacking).
// CopyFiles: 24 frames, 272 x 60, 15 per second: a page flying out of one
//        open folder into another (the built-in copy animation).
#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPolygon>

#include <cmath>
#include <cstdio>
#include <functional>

namespace {

using FrameFn = std::function<void(QPainter&, int frame)>;

const QColor kBlack(0, 0, 0);
const QColor kGrey(128, 128, 128);
const QColor kSilver(192, 192, 192);
const QColor kWhite(255, 255, 255);
const QColor kNavy(0, 0, 128);
const QColor kTeal(0, 128, 128);
const QColor kYellow(255, 255, 0);
const QColor kOlive(128, 128, 0);
const QColor kGreen(0, 160, 0);
const QColor kRed(192, 0, 0);

bool writeClip(const QString& path, int frames, int w, int h, int rate, const FrameFn& draw) {
  QImage strip(w * frames, h, QImage::Format_ARGB32);
  strip.fill(Qt::transparent);
  {
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing, false);
    for (int f = 0; f < frames; ++f) {
      p.save();
      p.translate(f * w, 0);
      p.setClipRect(0, 0, w, h);
      draw(p, f);
      p.restore();
    }
  }
  // Few solid colours and no smoothing: the indexed conversion is exact.
  QImage indexed = strip.convertToFormat(QImage::Format_Indexed8,
                                         Qt::ThresholdDither | Qt::ThresholdAlphaDither | Qt::AvoidDither);
  indexed.setText(QStringLiteral("Frames"), QString::number(frames));
  indexed.setText(QStringLiteral("Rate"), QString::number(rate));
  if (!indexed.save(path, "PNG")) {
    std::fprintf(stderr, "vrk_clipgen: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

void drawComputer(QPainter& p, int x, int y) {
  p.setPen(kBlack);
  p.setBrush(kSilver);
  p.drawRect(x, y, 22, 17);  // monitor
  p.setBrush(kTeal);
  p.drawRect(x + 3, y + 3, 16, 11);  // screen
  p.setBrush(kSilver);
  p.drawRect(x + 7, y + 18, 8, 3);   // stand
  p.drawRect(x - 2, y + 22, 26, 6);  // base
}

void drawTransfer(QPainter& p, int f) {
  drawComputer(p, 4, 12);
  drawComputer(p, 54, 12);
  // The cable between the two.
  p.setPen(kGrey);
  p.drawLine(28, 34, 52, 34);
  // Three packets move from right (the server) to left; their phases differ.
  p.setPen(kBlack);
  for (int k = 0; k < 3; ++k) {
    const int pos = (f * 2 + k * 16) % 48;  // 0..47 along the way
    const int x = 50 - pos;
    const int y = 30 - static_cast<int>(std::lround(10.0 * std::sin(pos * M_PI / 47.0)));
    p.setBrush(k == 0 ? kYellow : (k == 1 ? kGreen : kRed));
    p.drawRect(x, y, 4, 4);
  }
  // The receiving screen fills line by line.
  p.setPen(kWhite);
  const int lines = (f / 5) % 10;
  for (int i = 0; i < lines; ++i) p.drawLine(58, 16 + i, 58 + 8 + (i * 3) % 7, 16 + i);
}

void drawUnzip(QPainter& p, int f) {
  // The archive: a box with a zip line down the middle.
  p.setPen(kBlack);
  p.setBrush(kOlive);
  p.drawRect(4, 12, 18, 18);
  p.setPen(kYellow);
  for (int y = 13; y < 30; y += 2) p.drawPoint(13, y);
  // The clamp opens over the first frames.
  const int open = std::min(f, 3);
  p.setPen(kBlack);
  p.setBrush(kSilver);
  p.drawRect(8 - open, 8 - open, 10 + 2 * open, 4);
  // A page leaves the box to the upper right.
  if (f >= 2) {
    const int step = f - 2;  // 0..4
    p.setBrush(kWhite);
    p.drawRect(14 + step * 3, 14 - step * 3, 9, 11);
    p.setPen(kNavy);
    p.drawLine(16 + step * 3, 17 - step * 3, 21 + step * 3, 17 - step * 3);
    p.drawLine(16 + step * 3, 20 - step * 3, 21 + step * 3, 20 - step * 3);
  }
}

// An open folder: its back with the tab, and its front, drawn apart so that
// a page between the two goes into the folder.
void drawFolderBack(QPainter& p, int x, int y) {
  p.setPen(kBlack);
  p.setBrush(kOlive);
  p.drawRect(x, y, 16, 6);
  p.drawRect(x, y + 6, 44, 30);
}

void drawFolderFront(QPainter& p, int x, int y) {
  p.setPen(kBlack);
  p.setBrush(kYellow);
  p.drawPolygon(
      QPolygon({QPoint(x, y + 36), QPoint(x + 44, y + 36), QPoint(x + 48, y + 16), QPoint(x + 4, y + 16)}));
}

void drawPage(QPainter& p, int x, int y) {
  p.setPen(kBlack);
  p.setBrush(kWhite);
  // A sheet with a folded corner and lines of text.
  p.drawPolygon(QPolygon(
      {QPoint(x, y), QPoint(x + 11, y), QPoint(x + 15, y + 4), QPoint(x + 15, y + 19), QPoint(x, y + 19)}));
  p.drawLine(x + 11, y, x + 11, y + 4);
  p.drawLine(x + 11, y + 4, x + 15, y + 4);
  p.setPen(kNavy);
  for (int i = 0; i < 4; ++i) p.drawLine(x + 3, y + 7 + i * 3, x + 12, y + 7 + i * 3);
}

void drawCopy(QPainter& p, int f) {
  // A page rises out of the left folder, flies over in an arc and sinks into
  // the right one; the clip starts over with the next page.
  drawFolderBack(p, 14, 14);
  drawFolderBack(p, 214, 14);
  const double t = f / 23.0;
  const int x = 28 + static_cast<int>(std::lround(t * 200.0));
  const int y = 24 - static_cast<int>(std::lround(std::sin(t * M_PI) * 22.0));
  drawPage(p, x, y);
  drawFolderFront(p, 14, 14);
  drawFolderFront(p, 214, 14);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: vrk_clipgen <output directory>\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) return 1;
  bool ok = writeClip(out.filePath(QStringLiteral("AVI_1.png")), 50, 80, 50, 15, drawTransfer);
  ok = writeClip(out.filePath(QStringLiteral("AVI_2.png")), 7, 32, 32, 5, drawUnzip) && ok;
  ok = writeClip(out.filePath(QStringLiteral("CopyFiles.png")), 24, 272, 60, 15, drawCopy) && ok;
  return ok ? 0 : 1;
}
