// Draws the program's icon for the desktop's hicolor theme into
// assets/icons/hicolor/<size>x<size>/apps/punchlet.png and the scalable
// assets/icons/hicolor/scalable/apps/punchlet.svg. Run by hand (target
// make_icon) when its look changes; the files are committed and installed.
//
// The motif is what the program makes: a small landscape photo punched out
// with rounded corners, a white border and a pink frame. The PNGs from 32 px
// up and the SVG share one outline; 16 and 24 px are set pixel by pixel,
// because the outline drawn that small blurs the frame into the photo.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <array>
#include <cstdio>
#include <vector>

namespace {

const QColor kShadow(0, 0, 0, 60);
const QColor kPaper(255, 255, 255);
const QColor kFrame(255, 128, 192);  // the pink frame choice
const QColor kSkyTop(70, 140, 230);
const QColor kSkyLow(180, 220, 255);
const QColor kSun(255, 204, 0);
const QColor kHillFar(90, 170, 90);
const QColor kHillNear(40, 128, 60);

// The outline, in a 256 x 256 design space.
const QRectF kCard(20, 44, 216, 168);
constexpr double kCardRadius = 34;
const QRectF kPhoto = kCard.adjusted(14, 14, -14, -14);
constexpr double kPhotoRadius = 24;
const QPointF kSunCentre(170, 96);
constexpr double kSunRadius = 20;
constexpr double kFrameWidth = 7;
// Each hill: its height at the photo's left edge, then cubic segments of
// three points each.
struct Hill {
  double left;
  std::vector<QPointF> curve;
  QColor colour;
};
const std::array<Hill, 2> kHills{{
    {160,
     {{70, 110}, {120, 120}, {160, 150}, {190, 135}, {215, 135}, {kPhoto.right(), 150}},
     kHillFar},
    {185, {{100, 150}, {160, 160}, {kPhoto.right(), 180}}, kHillNear},
}};

QPainterPath HillPath(const Hill& hill) {
  QPainterPath path;
  path.moveTo(kPhoto.left(), hill.left);
  for (size_t i = 0; i + 2 < hill.curve.size(); i += 3)
    path.cubicTo(hill.curve[i], hill.curve[i + 1], hill.curve[i + 2]);
  path.lineTo(kPhoto.bottomRight());
  path.lineTo(kPhoto.bottomLeft());
  return path;
}

QImage Icon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, true);
  p.scale(size / 256.0, size / 256.0);

  p.setPen(Qt::NoPen);
  p.setBrush(kShadow);
  p.drawRoundedRect(kCard.translated(4, 6), kCardRadius, kCardRadius);
  p.setBrush(kPaper);
  p.drawRoundedRect(kCard, kCardRadius, kCardRadius);

  QPainterPath clip;
  clip.addRoundedRect(kPhoto, kPhotoRadius, kPhotoRadius);
  p.save();
  p.setClipPath(clip);
  QLinearGradient sky(kPhoto.topLeft(), kPhoto.bottomLeft());
  sky.setColorAt(0, kSkyTop);
  sky.setColorAt(1, kSkyLow);
  p.fillRect(kPhoto, sky);
  p.setBrush(kSun);
  p.drawEllipse(kSunCentre, kSunRadius, kSunRadius);
  for (const Hill& hill : kHills) {
    p.setBrush(hill.colour);
    p.drawPath(HillPath(hill));
  }
  p.restore();

  p.setBrush(Qt::NoBrush);
  // Thicker where the icon is small, so that the frame still shows.
  p.setPen(QPen(kFrame, size <= 24 ? 12 : kFrameWidth));
  p.drawRoundedRect(kPhoto, kPhotoRadius, kPhotoRadius);
  return image;
}

QString Svg() {
  const auto n = [](double v) { return QString::number(v, 'g', 6); };
  const auto rgb = [](const QColor& c) { return c.name(QColor::HexRgb); };
  const auto rect = [&](const QRectF& r, double radius) {
    return QString(R"(x="%1" y="%2" width="%3" height="%4" rx="%5")")
        .arg(n(r.x()), n(r.y()), n(r.width()), n(r.height()), n(radius));
  };
  QString hills;
  for (const Hill& hill : kHills) {
    QString d = QString("M%1 %2").arg(n(kPhoto.left()), n(hill.left));
    for (size_t i = 0; i < hill.curve.size(); ++i)
      d += QString("%1%2 %3").arg(i % 3 ? " " : "C", n(hill.curve[i].x()), n(hill.curve[i].y()));
    d += QString("L%1 %2L%3 %2Z").arg(n(kPhoto.right()), n(kPhoto.bottom()), n(kPhoto.left()));
    hills += QString(R"(<path d="%1" fill="%2"/>)").arg(d, rgb(hill.colour)) + "\n";
  }
  return QString(
             R"svg(<svg xmlns="http://www.w3.org/2000/svg" width="256" height="256" viewBox="0 0 256 256">
<defs><linearGradient id="sky" x1="0" y1="%1" x2="0" y2="%2" gradientUnits="userSpaceOnUse"><stop offset="0" stop-color="%3"/><stop offset="1" stop-color="%4"/></linearGradient>
<clipPath id="photo"><rect %5/></clipPath></defs>
<rect %6 fill="#000" fill-opacity="%7"/>
<rect %8 fill="%9"/>
<g clip-path="url(#photo)"><rect %10 fill="url(#sky)"/>
<circle cx="%11" cy="%12" r="%13" fill="%14"/>
%15</g>
<rect %5 fill="none" stroke="%16" stroke-width="%17"/>
</svg>
)svg")
      .arg(n(kPhoto.top()), n(kPhoto.bottom()), rgb(kSkyTop), rgb(kSkyLow),
           rect(kPhoto, kPhotoRadius), rect(kCard.translated(4, 6), kCardRadius),
           n(kShadow.alphaF()), rect(kCard, kCardRadius), rgb(kPaper))
      .arg(rect(kPhoto, 0), n(kSunCentre.x()), n(kSunCentre.y()), n(kSunRadius), rgb(kSun), hills,
           rgb(kFrame), n(kFrameWidth));
}

// Hand-set small sizes: one letter a pixel. The card's corner pixels are half
// transparent and the frame's are pink on paper, so corners read as round.
QColor PixelColour(char c) {
  switch (c) {
    case 's':
      return kShadow;
    case 'W':
      return QColor(255, 255, 255, 140);
    case 'w':
      return kPaper;
    case 'P':
      return QColor(255, 190, 224);
    case 'p':
      return kFrame;
    case 'b':
      return kSkyTop;
    case 'c':
      return QColor(120, 175, 240);
    case 'l':
      return kSkyLow;
    case 'y':
      return kSun;
    case 'g':
      return kHillFar;
    case 'G':
      return kHillNear;
    default:
      return Qt::transparent;
  }
}

const char* const kIcon16[] = {
    "................",  //
    "................",  //
    ".WwwwwwwwwwwwwW.",  //
    ".wPppppppppppPw.",  //
    ".wppbbbbbbbbppws",  //
    ".wpbbbbbbbyybpws",  //
    ".wpcccccccyycpws",  //
    ".wpccccccccccpws",  //
    ".wplgggllllggpws",  //
    ".wpggggggggggpws",  //
    ".wpgGGGGGGgggpws",  //
    ".wppGGGGGGGGppws",  //
    ".wPppppppppppPws",  //
    ".WwwwwwwwwwwwwWs",  //
    "...ssssssssssss.",  //
    "................",  //
};

const char* const kIcon24[] = {
    "........................",  //
    "........................",  //
    "........................",  //
    "..WwwwwwwwwwwwwwwwwwwW..",  //
    ".WwwwwwwwwwwwwwwwwwwwwW.",  //
    ".wwPppppppppppppppppPwws",  //
    ".wwppbbbbbbbbbbbbbbppwws",  //
    ".wwpbbbbbbbbbbbbbbbbpwws",  //
    ".wwpbbbbbbbbbbbyybbbpwws",  //
    ".wwpccccccccccyyyyccpwws",  //
    ".wwpccccccccccyyyyccpwws",  //
    ".wwplllllllllllyylllpwws",  //
    ".wwplllgggglllllllllpwws",  //
    ".wwplggggggggllllgglpwws",  //
    ".wwpggggggggggggggggpwws",  //
    ".wwpgggggGGGGGggggggpwws",  //
    ".wwpGGGGGGGGGGGGGGGGpwws",  //
    ".wwppGGGGGGGGGGGGGGppwws",  //
    ".wwPppppppppppppppppPwws",  //
    ".WwwwwwwwwwwwwwwwwwwwwWs",  //
    "..WwwwwwwwwwwwwwwwwwwW..",  //
    "...ssssssssssssssssssss.",  //
    "........................",  //
    "........................",  //
};

QImage PixelIcon(const char* const rows[], int size) {
  QImage image(size, size, QImage::Format_ARGB32);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) image.setPixelColor(x, y, PixelColour(rows[y][x]));
  }
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const QString root = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("assets");
  const QString theme = root + "/icons/hicolor";
  bool ok = true;
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const QString folder = QString("%1/%2x%2/apps").arg(theme).arg(size);
    const QImage icon = size == 16   ? PixelIcon(kIcon16, 16)
                        : size == 24 ? PixelIcon(kIcon24, 24)
                                     : Icon(size);
    ok = QDir().mkpath(folder) && icon.save(folder + "/punchlet.png") && ok;
  }
  QFile svg(theme + "/scalable/apps/punchlet.svg");
  ok = QDir().mkpath(theme + "/scalable/apps") && svg.open(QIODevice::WriteOnly) &&
       svg.write(Svg().toUtf8()) > 0 && ok;
  if (!ok) std::fprintf(stderr, "cannot write the icons into %s\n", qPrintable(root));
  return ok ? 0 : 1;
}
