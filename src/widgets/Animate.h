// TAnimate: the animation control of the main window. It plays a clip of
// frames from the program's resources (AVI_1, AVI_2) or the built-in copy
// animation, from the first frame to the last, over and over, while it is
// active. Loading a clip gives the control the clip's frame size. It paints
// only the clip's opaque pixels, so it draws over whatever lies beneath.
//
// A clip is a PNG strip of equal frames side by side in the resource
// ":/avi/<name>.png", with the frame count and the rate (frames per second)
// in its text keys "Frames" and "Rate".
//
// UI thread only.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

namespace vrk {

enum class TCommonAVI { aviNone, aviCopyFiles };

class TAnimate final : public QWidget {
  Q_OBJECT

 public:
  explicit TAnimate(QWidget* parent = nullptr);

  // Loads the clip of that resource name (AVI_1, AVI_2) and stops playing.
  // An unknown name raises Exception msg::CannotOpenAvi.
  void setResName(const QString& name);
  const QString& resName() const { return m_resName; }
  // Loads a built-in clip (aviCopyFiles) and stops playing; aviNone unloads.
  void setCommonAVI(TCommonAVI avi);
  TCommonAVI commonAVI() const { return m_common; }

  // Starts or stops playing. Starting always begins at the first frame.
  // Requires: a clip is loaded when turning on.
  void setActive(bool on);
  bool active() const { return m_timer.isActive(); }

  // What a window does to show its activity: loads the clip (a resource
  // name, or a built-in clip), centres the control horizontally over its
  // window (centredLeft of the window's outer width; the top stays), shows
  // it, then starts playing. Errors as for setResName.
  void play(const QString& resName);
  void play(TCommonAVI avi);
  // Hides the control, then stops playing; nothing happens when it is
  // hidden and stopped already.
  void stop();

  int frameCount() const { return m_frameCount; }
  int frameWidth() const { return m_frameSize.width(); }
  int frameHeight() const { return m_frameSize.height(); }
  int frameRate() const { return m_rate; }
  int currentFrame() const { return m_frame; }
  // The frame shown now, as an image.
  QImage frameImage(int frame) const;

 signals:
  void frameChanged(int frame);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void loadClip(const QString& resourcePath);
  void unload();
  void showCentred();
  void step();

  QString m_resName;
  TCommonAVI m_common = TCommonAVI::aviNone;
  QImage m_strip;
  QSize m_frameSize;
  int m_frameCount = 0;
  int m_rate = 0;
  int m_frame = 0;
  QTimer m_timer;
};

// Left edge of a control of width controlWidth centred in a window of outer
// width windowWidth; the division truncates toward zero, so a control wider
// than the window gets a negative edge (a difference of -3 gives -1).
constexpr int centredLeft(int windowWidth, int controlWidth) { return (windowWidth - controlWidth) / 2; }

}  // namespace vrk
