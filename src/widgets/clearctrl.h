// TClearControl and its two variants: a push button (TClearButton) and a
// container (TClearPanel) without a rectangle. The control shows a picture, a
// caption, an outline ring and a bevel or drop shadow; every other pixel is
// the key colour and is cut out of the widget's mask, so the parent shows
// through and clicks there reach the parent.
//
// All state images and both mask regions are built once per change of a
// look-affecting setting; painting only copies the image of the current state.
// Until the control is first shown (as while its form is loaded), and inside
// BeginUpdate/EndUpdate, a change only marks the look stale: it is built when
// the control is shown or its images are asked for.
#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QRegion>
#include <QWidget>
#include <QWindow>

class TClearControl : public QWidget {
  Q_OBJECT

 public:
  enum TTransBtnStyle { sbsPushBtn, sbsFloatBtn, sbsImage };
  Q_ENUM(TTransBtnStyle)
  enum TTransImgOption {
    sioDisableImage = 1 << 0,
    sioHotTrackImage = 1 << 1,
    sioTransAtDesigning = 1 << 2,
    sioBorderAndShadow = 1 << 3,
  };
  Q_DECLARE_FLAGS(TTransImgOptions, TTransImgOption)
  Q_FLAG(TTransImgOptions)
  // Used as a width in pixels: margin and outline thickness.
  enum TBorderStyle { bsNone, bsSingle };
  Q_ENUM(TBorderStyle)

  // The event a mask request posts to the control itself, so that a burst of
  // requests is applied once.
  static constexpr int UpdateRgnEvent = 0xBBAB;

  explicit TClearControl(QWidget* parent = nullptr);
  ~TClearControl() override;

  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool value);
  TBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TBorderStyle value);
  QPixmap Picture() const { return QPixmap::fromImage(FPicture); }
  void SetPicture(const QPixmap& picture);
  // A file (or resource) holding Picture at twice its size, drawn instead of
  // it on screens of ratio 1.5 and more; read when first needed.
  QString Picture2xFile() const { return FPicture2xFile; }
  void SetPicture2xFile(const QString& file);
  const QImage& PictureImage() const { return FPicture; }
  QString Caption() const { return FCaption; }
  void SetCaption(const QString& caption);
  int CaptionLeft() const { return FCaptionLeft; }
  void SetCaptionLeft(int value);
  int CaptionTop() const { return FCaptionTop; }
  void SetCaptionTop(int value);
  TTransBtnStyle Style() const { return FStyle; }
  void SetStyle(TTransBtnStyle value);
  QColor TransparentColor() const { return QColor(FTransparentColor); }
  void SetTransColor(const QColor& colour);
  bool HotTrack() const { return FHotTrack; }
  void SetHotTrack(bool value);
  int HotLightDepth() const { return FHotLightDepth; }
  void SetHotLightDepth(int value);
  QColor ShadowColor() const { return QColor(FShadowColor); }
  void SetShadowColor(const QColor& colour);
  QColor LightColor() const { return QColor(FLightColor); }
  void SetLightColor(const QColor& colour);
  bool Stretch() const { return FStretch; }
  void SetStretch(bool value);
  // The outline ring around picture and caption.
  QColor Color() const { return QColor(FColor); }
  void SetColor(const QColor& colour);
  // The caption's colour; the palette's text colour unless set.
  QColor FontColor() const;
  void SetFontColor(const QColor& colour);

  TTransImgOptions Options() const { return FOptions; }
  void SetOptions(TTransImgOptions options);
  bool ChildGraphicsTrans() const { return FChildGraphicsTrans; }
  void SetChildGraphicsTrans(bool value);
  bool FormTrans() const { return FFormTrans; }
  void SetFormTrans(bool value);
  bool ParentDrag() const { return FParentDrag; }
  void SetParentDrag(bool value);

  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();

  // Rebuilds every state image and both regions, then applies the region.
  void MakeBtnImageAndRgn();
  // How many times the images were built, for measuring.
  int BuildCount() const { return FBuildCount; }
  // Requests the mask for the current state; requests are applied once per
  // burst from the control's own event.
  void UpdateRgn();
  void AutoSizeArrange();

  // The prepared state images and regions, built first if stale (null or
  // empty when the control is too small to be built).
  const QImage& NormalImage() { return EnsureBuilt(), FNormal; }
  const QImage& PressedImage() { return EnsureBuilt(), FPressed; }
  const QImage& HotImage() { return EnsureBuilt(), FHot; }
  const QImage& DisabledImage() { return EnsureBuilt(), FDisabled; }
  const QRegion& NormalRgn() { return EnsureBuilt(), FNormalRgn; }
  const QRegion& PressedRgn() { return EnsureBuilt(), FPressedRgn; }

 signals:
  void OnClick();
  void OnMouseDown(Qt::MouseButton button, QPoint position);
  void OnMouseMove(QPoint position);
  void OnMouseUp(Qt::MouseButton button, QPoint position);
  void OnMouseEnter();
  void OnMouseLeave();

 protected:
  // Sets the size that AutoSizeArrange asks for, keeping the position.
  virtual void DoAutoSizeArrange(int width, int height);

  // Set while a constructor applies its class's defaults, which are not
  // changes: the control keeps its default size until the first real one.
  bool FLoading = false;

  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void changeEvent(QEvent* event) override;
  void childEvent(QChildEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  int B() const { return static_cast<int>(FBorderStyle); }
  bool Edged() const { return FOptions.testFlag(sioBorderAndShadow); }
  bool HotTrackShown() const { return FOptions.testFlag(sioHotTrackImage) && FHotTrack; }
  bool ExplicitlyHidden() const;
  // A held button, ours or any other, owns the pointer until released.
  static bool MouseCaptured();
  // What ParentDrag moves: the parent, or the control when it is a window.
  QWidget* DraggedParent();
  void Changed();  // rebuild (or mark stale) and repaint after a look-affecting change
  // Builds a stale look; true when it did.
  bool EnsureBuilt();
  void PictureChanged();
  void WinRgnSet(bool pressed);
  void Click(QPoint position);
  // True when this control is what the window shows at the point: the mask
  // decides, so key-coloured pixels belong to whatever lies below.
  bool UnderPointer(QPoint position) const;
  // What paint draws: the state's image at the screen's ratio.
  const QImage& ShownImage() const;
  // The caption's cell in the control's pixels: its measure plus one.
  QSize CaptionCell() const;
  // The caption on the key colour, drawn at the ratio.
  QImage CaptionImage(QSize cell, qreal ratio) const;
  QImage PictureAt(qreal ratio);
  struct TStateImages {
    QImage normal, pressed, hot, disabled;
  };
  // The state images drawn at a screen ratio (1: the control's own pixels).
  TStateImages BuildImages(qreal ratio);
  void WatchScreen();

  bool FAutoSize = true;
  TBorderStyle FBorderStyle = bsSingle;
  QImage FPicture;
  QString FCaption;
  int FCaptionLeft = -1;
  int FCaptionTop = -1;
  TTransBtnStyle FStyle = sbsPushBtn;
  QRgb FTransparentColor;
  bool FHotTrack = true;
  int FHotLightDepth = 128;
  QRgb FShadowColor;
  QRgb FLightColor;
  bool FStretch = false;
  QRgb FColor;
  QColor FFontColor;
  TTransImgOptions FOptions;
  bool FChildGraphicsTrans = false;
  bool FFormTrans = false;
  bool FParentDrag = false;

  QString FPicture2xFile;
  QImage FPicture2x;

  QImage FNormal, FPressed, FHot, FDisabled;
  // The state images painted on a screen whose ratio is not 1.
  TStateImages FDevice;
  qreal FDeviceRatio = 1;
  QPointer<QWindow> FWatchedWindow;
  QRegion FNormalRgn, FPressedRgn;
  bool FStale = true;
  int FBuildCount = 0;
  int FUpdateCount = 0;
  int FPendingRgnEvents = 0;
  bool FApplyingRgn = false;
  bool FClicked = false;  // a left press began here; a release inside clicks
  bool FTracking = false;
  bool FPointerInside = false;
  QPoint FLastPos;
  bool FDraggingParent = false;
  QPoint FGrabPoint;

  Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
  Q_PROPERTY(TBorderStyle BorderStyle READ BorderStyle WRITE SetBorderStyle)
  Q_PROPERTY(QPixmap Picture READ Picture WRITE SetPicture)
  Q_PROPERTY(QString Picture2xFile READ Picture2xFile WRITE SetPicture2xFile)
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(int CaptionLeft READ CaptionLeft WRITE SetCaptionLeft)
  Q_PROPERTY(int CaptionTop READ CaptionTop WRITE SetCaptionTop)
  Q_PROPERTY(TTransBtnStyle Style READ Style WRITE SetStyle)
  Q_PROPERTY(QColor TransparentColor READ TransparentColor WRITE SetTransColor)
  Q_PROPERTY(bool HotTrack READ HotTrack WRITE SetHotTrack)
  Q_PROPERTY(int HotLightDepth READ HotLightDepth WRITE SetHotLightDepth)
  Q_PROPERTY(QColor ShadowColor READ ShadowColor WRITE SetShadowColor)
  Q_PROPERTY(QColor LightColor READ LightColor WRITE SetLightColor)
  Q_PROPERTY(bool Stretch READ Stretch WRITE SetStretch)
  Q_PROPERTY(QColor Color READ Color WRITE SetColor)
  Q_PROPERTY(QColor FontColor READ FontColor WRITE SetFontColor)
};

Q_DECLARE_OPERATORS_FOR_FLAGS(TClearControl::TTransImgOptions)

class TClearButton : public TClearControl {
  Q_OBJECT

 public:
  explicit TClearButton(QWidget* parent = nullptr);
};

// A container: children are part of its shape, and it can drag its parent.
class TClearPanel : public TClearControl {
  Q_OBJECT
  Q_PROPERTY(bool ChildGraphicsTrans READ ChildGraphicsTrans WRITE SetChildGraphicsTrans)
  Q_PROPERTY(bool FormTrans READ FormTrans WRITE SetFormTrans)
  Q_PROPERTY(bool ParentDrag READ ParentDrag WRITE SetParentDrag)

 public:
  explicit TClearPanel(QWidget* parent = nullptr);

 protected:
  // Also takes in the bounds of every child.
  void DoAutoSizeArrange(int width, int height) override;
};
