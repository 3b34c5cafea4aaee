// Draws the pictures of both programs: icons, the credits strip, the about
// dialog's banner and portrait, the relay card and the two lamp images.
// Run it through tools/draw-artwork; it writes into sequencer-ui/pictures/,
// monitor/pictures/ and packaging/icons/. All artwork is drawn here from shapes and text.

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QLinearGradient>

#include <cstdio>

namespace {

QString g_root;

void save(const QImage &image, const QString &path)
{
    if (!image.save(g_root + "/" + path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

QFont font(int pixels, bool bold = false)
{
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

void glow(QPainter &p, QPointF centre, qreal radius, QColor colour)
{
    QRadialGradient gradient(centre, radius);
    gradient.setColorAt(0, colour);
    QColor clear = colour;
    clear.setAlpha(0);
    gradient.setColorAt(1, clear);
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawEllipse(centre, radius, radius);
}

// --- Windows .ico: a 256-colour image and a 32-bit image with alpha -------

void appendDib(QDataStream &out, const QImage &argb, bool indexed)
{
    const int size = argb.width();
    QImage palettised;
    if (indexed)
        palettised = argb.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdAlphaDither);
    out << quint32(40) << qint32(size) << qint32(size * 2) << quint16(1) << quint16(indexed ? 8 : 32)
        << quint32(0) << quint32(0) << qint32(0) << qint32(0) << quint32(indexed ? 256 : 0) << quint32(0);
    if (indexed) {
        QList<QRgb> table = palettised.colorTable();
        table.resize(256);
        for (QRgb c : table)
            out << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(0);
        for (int y = size - 1; y >= 0; --y) {
            for (int x = 0; x < size; ++x)
                out << quint8(palettised.pixelIndex(x, y));
            for (int pad = size; pad % 4; ++pad)
                out << quint8(0);
        }
    } else {
        for (int y = size - 1; y >= 0; --y)
            for (int x = 0; x < size; ++x) {
                const QRgb c = argb.pixel(x, y);
                out << quint8(qBlue(c)) << quint8(qGreen(c)) << quint8(qRed(c)) << quint8(qAlpha(c));
            }
    }
    // The AND mask: 1 where the pixel is transparent.
    const int maskBytes = ((size + 31) / 32) * 4;
    for (int y = size - 1; y >= 0; --y) {
        QByteArray row(maskBytes, '\0');
        for (int x = 0; x < size; ++x)
            if (qAlpha(argb.pixel(x, y)) < 128)
                row[x / 8] = char(row[x / 8] | (0x80 >> (x % 8)));
        out.writeRawData(row.constData(), row.size());
    }
}

void saveIco(const QImage &image, const QString &path, bool with32Bit)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    QList<QByteArray> entries;
    for (bool indexed : {true, false}) {
        if (!indexed && !with32Bit)
            continue;
        QByteArray dib;
        QDataStream out(&dib, QIODevice::WriteOnly);
        out.setByteOrder(QDataStream::LittleEndian);
        appendDib(out, argb, indexed);
        entries.append(dib);
    }
    QByteArray ico;
    QDataStream out(&ico, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    out << quint16(0) << quint16(1) << quint16(entries.size());
    quint32 offset = 6 + 16 * quint32(entries.size());
    for (int i = 0; i < entries.size(); ++i) {
        const bool indexed = i == 0;
        out << quint8(argb.width()) << quint8(argb.height()) << quint8(0) << quint8(0) << quint16(1)
            << quint16(indexed ? 8 : 32) << quint32(entries[i].size()) << offset;
        offset += quint32(entries[i].size());
    }
    for (const QByteArray &entry : entries)
        out.writeRawData(entry.constData(), entry.size());
    QFile file(g_root + "/" + path);
    if (!file.open(QIODevice::WriteOnly) || file.write(ico) != ico.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
}

// --- blinkwerk --------------------------------------------------------------

// The program icons are designed on a 32 px grid and drawn at any size by
// scaling that grid, so the larger theme icons are the same picture.
QImage sequencerIcon(int size = 32)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    glow(p, {16, 16}, 16, QColor(40, 110, 255, 235));
    glow(p, {16, 14}, 9, QColor(190, 220, 255, 255));
    p.setPen(QColor(10, 20, 60));
    p.setFont(font(12, true));
    p.drawText(QRect(0, 3, 32, 14), Qt::AlignCenter, "BW");
    p.setFont(font(10, true));
    p.drawText(QRect(0, 16, 32, 12), Qt::AlignCenter, "2.1");
    return image;
}

QImage creditsStrip()
{
    QImage image(65, 238, QImage::Format_RGB32);
    image.fill(QColor(224, 224, 224));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient band(0, 0, 65, 0);
    band.setColorAt(0, QColor(224, 224, 224));
    band.setColorAt(0.5, QColor(150, 185, 245));
    band.setColorAt(1, QColor(224, 224, 224));
    p.fillRect(image.rect(), band);
    for (int y = 20; y < 238; y += 46)
        glow(p, {32.5, qreal(y)}, 26, QColor(90, 140, 255, 110));
    p.setPen(QColor(20, 25, 45));
    const struct { int y; int px; bool bold; const char *text; } lines[] = {
        {10, 11, true, "Blinkwerk"}, {24, 10, false, "Version 2.1"}, {50, 9, false, "Lichtsteuerung"},
        {62, 9, false, "für LPT-"}, {74, 9, false, "Relaiskarten"}, {104, 9, false, "von"},
        {116, 9, true, "Das Blinkwerk-"}, {128, 9, true, "Team"}, {158, 9, false, "team@"},
        {170, 9, false, "blinkwerk."}, {182, 9, false, "example"}, {208, 9, false, "Klick: Info"},
    };
    for (const auto &line : lines) {
        p.setFont(font(line.px, line.bold));
        p.drawText(QRect(0, line.y, 65, 12), Qt::AlignHCenter | Qt::AlignVCenter, QString::fromUtf8(line.text));
    }
    return image;
}

QImage banner()
{
    QImage image(360, 70, QImage::Format_RGB32);
    image.fill(QColor(226, 226, 226));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 8; ++i)
        glow(p, {22.0 + 45.0 * i, 35.0}, 30, QColor(80, 140, 255, 140));
    p.setFont(font(40, true));
    p.setPen(QColor(255, 255, 255, 160));
    p.drawText(image.rect().translated(1, 1), Qt::AlignCenter, "BlinkwerkV2.1");
    p.setPen(QColor(16, 22, 48));
    p.drawText(image.rect(), Qt::AlignCenter, "BlinkwerkV2.1");
    return image;
}

QImage portrait()
{
    // A drawn head and shoulders, not anyone in particular.
    QImage image(60, 90, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 90);
    sky.setColorAt(0, QColor(170, 195, 225));
    sky.setColorAt(1, QColor(110, 140, 185));
    p.fillRect(image.rect(), sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(45, 60, 95)); // shoulders
    QPainterPath body;
    body.moveTo(4, 90);
    body.cubicTo(6, 68, 18, 64, 30, 64);
    body.cubicTo(42, 64, 54, 68, 56, 90);
    p.drawPath(body);
    p.setBrush(QColor(232, 190, 160)); // neck and face
    p.drawRect(QRectF(25, 52, 10, 14));
    p.drawEllipse(QRectF(15, 20, 30, 38));
    p.drawEllipse(QRectF(12.5, 36, 5, 8)); // ears
    p.drawEllipse(QRectF(42.5, 36, 5, 8));
    p.setBrush(QColor(95, 60, 35)); // hair
    QPainterPath hair;
    hair.moveTo(14, 40);
    hair.cubicTo(10, 16, 24, 12, 32, 14);
    hair.cubicTo(44, 14, 50, 24, 46, 40);
    hair.cubicTo(44, 30, 38, 26, 30, 27);
    hair.cubicTo(22, 27, 17, 31, 14, 40);
    p.drawPath(hair);
    p.setBrush(QColor(40, 40, 50)); // eyes
    p.drawEllipse(QPointF(24, 39), 1.6, 1.8);
    p.drawEllipse(QPointF(36, 39), 1.6, 1.8);
    p.setPen(QPen(QColor(150, 80, 70), 1.2));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(24, 44, 12, 7), 200 * 16, 140 * 16); // smile
    p.setPen(QPen(QColor(200, 150, 120), 1));
    p.drawLine(QPointF(30, 40), QPointF(29, 45)); // nose
    return image;
}

// --- schaltblick ------------------------------------------------------------

// The ten colours of the card; the picture is drawn without antialiasing so
// that it holds exactly these.
const QColor Board(0, 0, 255), Block(0, 64, 128), Black(0, 0, 0), Brown(128, 64, 0), Red(255, 0, 0),
    Grey(128, 128, 128), Silver(192, 192, 192), White(255, 255, 255), Tan(192, 128, 64), Orange(255, 128, 0);

void pad(QPainter &p, int cx, int cy)
{
    p.setPen(Qt::NoPen);
    p.setBrush(Silver);
    p.drawEllipse(QPoint(cx, cy), 3, 3);
    p.setBrush(Grey);
    p.drawEllipse(QPoint(cx, cy), 1, 1);
}

void resistor(QPainter &p, int x, int y, QColor band)
{
    // A horizontal resistor with a pad at each end, 19 px long.
    p.setPen(Qt::NoPen);
    p.setBrush(Grey);
    p.drawRect(x, y + 2, 19, 1);
    pad(p, x, y + 2);
    pad(p, x + 19, y + 2);
    p.setBrush(Tan);
    p.drawRect(x + 5, y, 10, 5);
    p.setBrush(band);
    p.drawRect(x + 7, y, 1, 5);
    p.setBrush(Brown);
    p.drawRect(x + 10, y, 1, 5);
    p.setBrush(Red);
    p.drawRect(x + 12, y, 1, 5);
}

QImage card()
{
    QImage image(288, 114, QImage::Format_RGB888);
    image.fill(Board);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(Qt::NoPen);

    // Seven relays along the upper edge, each with a white label strip.
    for (int i = 0; i < 7; ++i) {
        const int x = 8 + 39 * i;
        p.setBrush(Block);
        p.drawRect(x, 0, 34, 46);
        p.setBrush(Grey);
        p.drawRect(x + 4, 38, 26, 4);
        p.setBrush(White);
        p.drawRect(x + 5, 6, 24, 3);
    }
    // Screw terminals in the two lower corners; the last column stays board.
    for (int x : {0, 245}) {
        p.setBrush(Block);
        p.drawRect(x, 84, 42, 30);
        for (int s = 0; s < 3; ++s) {
            p.setBrush(Silver);
            p.drawEllipse(QPoint(x + 8 + 13 * s, 99), 4, 4);
            p.setBrush(Black);
            p.drawRect(x + 5 + 13 * s, 99, 7, 1);
        }
    }
    // Two chips with their pins.
    for (int x : {70, 156}) {
        p.setBrush(Silver);
        for (int pin = 0; pin < 8; ++pin) {
            p.drawRect(x + 3 + 7 * pin, 88, 3, 3);
            p.drawRect(x + 3 + 7 * pin, 107, 3, 3);
        }
        p.setBrush(Black);
        p.drawRect(x, 91, 60, 16);
        p.setBrush(Grey);
        p.drawEllipse(QPoint(x + 5, 99), 2, 2);
    }
    // A resistor and a pad under every lamp, apart from the lamp places.
    const QColor bands[] = {Brown, Red, Orange, Brown, Red, Orange, Brown, Red};
    for (int k = 0; k < 8; ++k) {
        const int lampX = 52 + 25 * k;
        resistor(p, lampX - 6, 74, bands[k]);
        pad(p, lampX + 4, 52);
    }
    // The eight lamp places, framed by board colour.
    for (int k = 0; k < 8; ++k) {
        p.setBrush(Board);
        p.drawRect(52 + 25 * k - 2, 59, 12, 12);
        p.setBrush(Black);
        p.drawRect(52 + 25 * k, 61, 8, 8);
    }
    // Plain board in the column that lies outside the window.
    p.setBrush(Board);
    p.drawRect(287, 0, 1, 114);
    return image;
}

QImage lamp(QColor colour)
{
    QImage image(8, 8, QImage::Format_RGB888);
    image.fill(colour);
    return image;
}

QImage monitorIcon(int size = 32)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(size / 32.0, size / 32.0);
    p.setPen(Qt::NoPen);
    p.setBrush(Board);
    p.drawRect(1, 5, 30, 22);
    p.setBrush(Block);
    for (int i = 0; i < 4; ++i)
        p.drawRect(3 + 7 * i, 5, 5, 7);
    for (int k = 0; k < 4; ++k) {
        p.setBrush(k % 2 ? QColor(128, 128, 0) : QColor(255, 255, 0));
        p.drawRect(4 + 7 * k, 16, 4, 4);
    }
    p.setBrush(Black);
    p.drawRect(9, 22, 14, 3);
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: draw_artwork <source root>\n");
        return 2;
    }
    g_root = QString::fromLocal8Bit(argv[1]);

    const QImage icon = sequencerIcon();
    save(icon, "sequencer-ui/pictures/icon.png");
    saveIco(icon, "sequencer-ui/pictures/blinkwerk.ico", true);
    save(creditsStrip(), "sequencer-ui/pictures/credits.png");
    save(banner(), "sequencer-ui/pictures/banner.png");
    save(portrait(), "sequencer-ui/pictures/portrait.png");

    save(card(), "monitor/pictures/card.png");
    save(lamp(QColor(128, 128, 0)), "monitor/pictures/lamp1.png");
    save(lamp(QColor(255, 255, 0)), "monitor/pictures/lamp2.png");
    const QImage monitor = monitorIcon();
    save(monitor, "monitor/pictures/icon.png");
    saveIco(monitor, "monitor/pictures/schaltblick.ico", false);

    // The larger icons of the desktop's icon theme; the 32 px ones are the
    // window icons above.
    for (int size : {48, 64, 128, 256}) {
        const QString folder = QString("packaging/icons/%1x%1/apps/").arg(size);
        if (!QDir(g_root).mkpath(folder)) {
            std::fprintf(stderr, "cannot create %s\n", qPrintable(folder));
            return 1;
        }
        save(sequencerIcon(size), folder + "blinkwerk.png");
        save(monitorIcon(size), folder + "schaltblick.png");
    }
    return 0;
}
