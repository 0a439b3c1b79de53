#include "ui/ValueLabel.h"

#include <QFontInfo>
#include <QGlyphRun>
#include <QHash>
#include <QLocale>
#include <QPainter>
#include <QRawFont>
#include <QStyle>
#include <QStyleOption>
#include <QTextLayout>
#include <QTimer>
#include <QtMath>
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

void makeValueLabel(QLabel *label) {
    label->setAutoFillBackground(true);
    label->setTextFormat(Qt::PlainText);
    label->setFixedSize(label->size());
}

namespace {

// The characters these labels are made of: figures in any of the locales'
// forms, and the captions and units around them ("Download: ", "k/sec",
// "kbit/s", "Mbit/s", "Gbit/s", "no reading"). Kept small on purpose: every
// ordered pair of them is shaped once per font.
const QString kAlphabet = QStringLiteral("0123456789 -.,:/kbitsMGecDownladUprg");

// A line as QPainter::drawText lays out a plain single line of text: left to
// right, as wide as it likes.
struct Shaped {
    QList<quint32> indexes;
    QList<QPointF> positions;
    QRawFont raw;
    qreal height = 0;
    qreal naturalWidth = 0;
    qreal advance = 0;
    bool oneRun = false;
};

Shaped shape(const QString &text, const QFont &font) {
    QTextLayout layout(text, font);
    QTextOption option;
    option.setTextDirection(Qt::LeftToRight);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(0x01000000);
    layout.endLayout();
    const QList<QGlyphRun> runs = layout.glyphRuns();
    Shaped shaped{{},
                  {},
                  {},
                  line.height(),
                  line.naturalTextWidth(),
                  line.horizontalAdvance(),
                  runs.size() == 1};
    if (shaped.oneRun) {
        shaped.indexes = runs[0].glyphIndexes();
        shaped.positions = runs[0].positions();
        shaped.raw = runs[0].rawFont();
    }
    return shaped;
}

} // namespace

namespace valuelabel {

struct Glyph {
    char16_t character = 0;
    quint32 index = 0;
    qreal x = 0;        // where shaping put it, from the pen position
    qreal advance = 0;  // how far it moves the pen
    qreal overhang = 0; // how far the line's natural width reaches past that, as the last glyph
    qreal inkLeft = 0;  // where its pixels may start, from the pen position
    bool exact = true;
};

// One font's glyphs for the characters that may be painted from them, and
// the kerning between them.
//
// Shaping a text moves a glyph only for the pair it stands in, in the fonts
// these labels use (a 'kern' table, or OpenType pair positioning). So each
// character is shaped alone, each ordered pair together, and the pair's
// offset is kept; a pair that shapes to other glyphs (a ligature) or moves
// more than the second glyph leaves both characters to QLabel. Pair
// positioning may also pass over the glyph after a pair it matched, so every
// kerned pair is shaped again behind each character too.
struct FontGlyphs {
    QFont font;
    int pixelSize = 0;
    QRawFont raw;
    qreal baseline = 0;
    qreal height = 0;
    std::vector<Glyph> glyphs;
    std::vector<qreal> kerning;  // glyphs.size() squared, first glyph major
    QHash<char16_t, int> slotOf; // the exact ones only

    qreal kern(size_t a, size_t b) const { return kerning[a * glyphs.size() + b]; }

    FontGlyphs(const QFont &f, int pixels) : font(f), pixelSize(pixels) {
        QString alphabet = kAlphabet;
        const QLocale locale;
        for (const QString &s :
             {locale.groupSeparator(), locale.decimalPoint(), locale.negativeSign()})
            if (s.size() == 1 && !alphabet.contains(s) && s != u"&")
                alphabet += s;

        // Each character alone: one glyph of the font itself (not a fallback
        // font's), on the common baseline.
        for (const QChar c : alphabet) {
            const Shaped alone = shape(QString(c), font);
            if (!alone.oneRun || alone.indexes.size() != 1)
                continue;
            if (!raw.isValid()) {
                raw = alone.raw;
                baseline = alone.positions[0].y();
                height = alone.height;
            }
            if (alone.raw != raw || alone.positions[0].y() != baseline || alone.height != height)
                continue;
            const qreal advance = raw.advancesForGlyphIndexes(alone.indexes)[0].x();
            glyphs.push_back(
                Glyph{c.unicode(), alone.indexes[0], alone.positions[0].x(), advance,
                      alone.naturalWidth - advance,
                      alone.positions[0].x() + raw.boundingRect(alone.indexes[0]).left(), true});
        }

        // Each ordered pair. QPointF's == is fuzzy; pixels are not, hence the
        // exact comparisons.
        const size_t n = glyphs.size();
        kerning.assign(n * n, 0);
        for (size_t a = 0; a < n; ++a)
            for (size_t b = 0; b < n; ++b) {
                const Glyph &ga = glyphs[a], &gb = glyphs[b];
                const Shaped pair = shape(QString(QChar(ga.character)) + QChar(gb.character), font);
                const QList<QPointF> &at = pair.positions;
                const qreal kern = at.size() == 2 ? at[1].x() - gb.x - ga.advance : 0;
                const qreal width = ga.advance + kern + gb.advance;
                const bool exact =
                    pair.oneRun && pair.raw == raw &&
                    pair.indexes == QList<quint32>{ga.index, gb.index} && at[0].x() == ga.x &&
                    at[0].y() == baseline && at[1].y() == baseline && pair.height == height &&
                    pair.advance == width &&
                    (gb.character == u' ' || pair.naturalWidth == width + gb.overhang);
                kerning[a * n + b] = kern;
                if (!exact)
                    glyphs[a].exact = glyphs[b].exact = false;
            }
        for (size_t b = 0; b < n; ++b)
            for (size_t c = 0; c < n; ++c) {
                if (kern(b, c) == 0 || !glyphs[b].exact || !glyphs[c].exact)
                    continue;
                for (size_t a = 0; a < n; ++a) {
                    if (!glyphs[a].exact)
                        continue;
                    QList<QPointF> expected;
                    const qreal width = placed({a, b, c}, expected);
                    const Shaped triple =
                        shape(QString(QChar(glyphs[a].character)) + QChar(glyphs[b].character) +
                                  QChar(glyphs[c].character),
                              font);
                    bool exact = triple.oneRun && triple.advance == width &&
                                 triple.indexes == QList<quint32>{glyphs[a].index, glyphs[b].index,
                                                                  glyphs[c].index};
                    for (int i = 0; exact && i < 3; ++i)
                        exact = triple.positions[i].x() == expected[i].x();
                    if (!exact)
                        glyphs[a].exact = false;
                }
            }
        for (size_t i = 0; i < n; ++i)
            if (glyphs[i].exact)
                slotOf.insert(glyphs[i].character, int(i));
    }

    // The pen positions of a row of glyphs, kerned; returns its advance.
    qreal placed(std::initializer_list<size_t> row, QList<QPointF> &positions) const {
        qreal x = 0;
        const size_t *previous = nullptr;
        for (const size_t &g : row) {
            if (previous)
                x += kern(*previous, g);
            positions.append(QPointF(x + glyphs[g].x, baseline));
            x += glyphs[g].advance;
            previous = &g;
        }
        return x;
    }
};

} // namespace valuelabel

namespace {

using valuelabel::FontGlyphs;
using valuelabel::Glyph;

// One entry per font the labels were painted in; there are two or three.
// The pixel size tells the same font apart on screens of another density.
// Null for a font not seen before when build is false.
FontGlyphs *glyphsFor(const QFont &font, bool build) {
    static std::vector<std::unique_ptr<FontGlyphs>> fonts;
    const int pixels = QFontInfo(font).pixelSize();
    for (const auto &f : fonts)
        if (f->font == font && f->pixelSize == pixels)
            return f.get();
    if (!build)
        return nullptr;
    fonts.push_back(std::make_unique<FontGlyphs>(font, pixels));
    return fonts.back().get();
}

// Shaping a font's pairs takes some milliseconds: a font's first paints are
// QLabel's, and its glyphs are made once the event loop is idle again, never
// in the way of a window's first paint.
void glyphsLater(const QFont &font) {
    static QList<QFont> asked;
    if (asked.contains(font))
        return;
    asked.append(font);
    QTimer::singleShot(0, [font] { glyphsFor(font, true); });
}

// Styles whose drawItemText() draws an enabled label's text with the
// palette's pen and QPainter::drawText, nothing more. A style sheet, a proxy
// or any other style may draw it its own way.
bool plainTextStyle(const QStyle *style) {
    const char *name = style->metaObject()->className();
    for (const char *known : {"QFusionStyle", "QWindowsStyle", "QWindowsVistaStyle"})
        if (!std::strcmp(name, known))
            return true;
    return false;
}

// Walks text's glyphs left to right, kerned, calling each(i, glyph, x) with
// the pen position of the i-th from the start of the text; returns the
// text's advance, or nullopt when some character must be shaped with its
// neighbours.
template <typename Each>
std::optional<qreal> walkGlyphs(const FontGlyphs &f, const QString &text, Each &&each) {
    qreal x = 0;
    int previous = -1;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const int slot = f.slotOf.value(text[i].unicode(), -1);
        if (slot < 0)
            return std::nullopt;
        if (previous >= 0)
            x += f.kern(size_t(previous), size_t(slot));
        const Glyph &g = f.glyphs[size_t(slot)];
        each(i, g, x);
        x += g.advance;
        previous = slot;
    }
    return x;
}

// The glyph run of text, relative to the pen position at its start, its
// advance and its natural width (what the last glyph may reach past the
// advance included); false when some character must be shaped with its
// neighbours.
bool glyphRun(const FontGlyphs &f, const QString &text, QGlyphRun &run, qreal &advance,
              qreal &naturalWidth) {
    QList<quint32> indexes;
    QList<QPointF> positions;
    indexes.reserve(text.size());
    positions.reserve(text.size());
    const Glyph *last = nullptr;
    const auto walked = walkGlyphs(f, text, [&](qsizetype, const Glyph &g, qreal x) {
        indexes.append(g.index);
        positions.append(QPointF(x + g.x, f.baseline));
        last = &g;
    });
    if (!walked)
        return false;
    run.setRawFont(f.raw);
    run.setGlyphIndexes(indexes);
    run.setPositions(positions);
    advance = *walked;
    naturalWidth = last ? advance + last->overhang : advance;
    return true;
}

// The advance of text and where the pixels of its glyphs from the one at
// from on may start, relative to the pen position at its start; false when
// some character must be shaped with its neighbours.
bool inkFrom(const FontGlyphs &f, const QString &text, qsizetype from, qreal &advance,
             qreal &inkLeft) {
    inkLeft = std::numeric_limits<qreal>::max();
    const auto walked = walkGlyphs(f, text, [&](qsizetype i, const Glyph &g, qreal x) {
        if (i >= from)
            inkLeft = std::min(inkLeft, x + g.inkLeft);
    });
    advance = walked.value_or(0);
    return walked.has_value();
}

// What QLabel paints with one QPainter::drawText call, enabled, in a style
// that adds nothing to it; the leading and trailing spaces drawText keeps or
// drops by its own rules are left to it.
bool plainLine(const QLabel &label, const QString &text) {
    const QFont &font = label.font();
    return !text.isEmpty() && !text.front().isSpace() && !text.back().isSpace() &&
           label.textFormat() == Qt::PlainText && !label.wordWrap() && label.isEnabled() &&
           label.focusPolicy() == Qt::NoFocus &&
           !(label.textInteractionFlags() &
             (Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard)) &&
           !(label.alignment() & Qt::AlignJustify) && plainTextStyle(label.style()) &&
           !font.underline() && !font.overline() && !font.strikeOut();
}

} // namespace

ValueLabel::ValueLabel(QWidget *parent) : QLabel(parent) {}

ValueLabel::ValueLabel(const QString &text, QWidget *parent) : QLabel(text, parent) {}

bool ValueLabel::paintsFromGlyphs() const {
    QGlyphRun run;
    qreal advance = 0, naturalWidth = 0;
    return plainLine(*this, text()) &&
           glyphRun(*glyphsFor(QFont(font(), this), true), text(), run, advance, naturalWidth);
}

int ValueLabel::textWidth() const {
    QGlyphRun run;
    qreal advance = 0, naturalWidth = 0;
    const FontGlyphs *glyphs = glyphsFor(QFont(font(), this), false);
    if (!glyphs || indent() > 0 || !plainLine(*this, text()) ||
        !glyphRun(*glyphs, text(), run, advance, naturalWidth))
        return sizeHint().width();
    // A pixel to spare for a glyph that reaches past its natural width.
    const QMargins m = contentsMargins();
    return qCeil(std::max(advance, naturalWidth)) + 1 + m.left() + m.right() + 2 * margin() +
           (frameWidth() ? xAdvance() : 0);
}

void ValueLabel::paintEvent(QPaintEvent *event) {
    const QString content = text();
    if (!plainLine(*this, content)) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QGlyphRun run;
    qreal advance = 0, naturalWidth = 0;
    const FontGlyphs *glyphs = glyphsFor(painter.font(), false);
    if (!glyphs)
        glyphsLater(painter.font());
    if (!glyphs || painter.deviceTransform().type() > QTransform::TxTranslate ||
        !glyphRun(*glyphs, content, run, advance, naturalWidth)) {
        painted_ = {};
        painter.end();
        QLabel::paintEvent(event);
        return;
    }
    const FontGlyphs &f = *glyphs;
    const QRect contents = contentsRect();

    // A new text repaints the contents alone; the frame around them is
    // only drawn when the repaint reaches it (a style's frame is several
    // primitives, more than the figures themselves).
    if (!contents.contains(event->rect()))
        drawFrame(&painter);

    // Then as QPainter::drawText places one line in the text's rectangle:
    // clipped to it only when the line's natural width or its height does
    // not fit, and moved from the left by the advance alone.
    const QRectF r(textArea(contents));
    const int align = QStyle::visualAlignment(Qt::LeftToRight, alignment());
    qreal y = 0;
    if (align & Qt::AlignBottom)
        y = r.height() - f.height;
    else if (align & Qt::AlignVCenter)
        y = (r.height() - f.height) / 2;
    if (!r.contains(QRectF(r.x() + fromLeft(r, naturalWidth), r.y() + y, naturalWidth, f.height)))
        painter.setClipRect(r, Qt::IntersectClip);

    // The pen QLabel's style takes: the palette's current group (active or
    // inactive window) is the one QStyleOption::initFrom would copy.
    painter.setPen(QPen(palette().brush(foregroundRole()), painter.pen().widthF()));
    const qreal x = penX(r, advance);
    painter.drawGlyphRun(QPointF(x, onGrid(r.y() + y)), run);
    painted_ = {glyphs, content, x, r, devicePixelRatio() == 1 ? contents : QRect()};
}

void ValueLabel::changeEvent(QEvent *event) {
    if (event->type() == QEvent::FontChange)
        xAdvance_ = -1;
    QLabel::changeEvent(event);
}

int ValueLabel::xAdvance() const {
    if (xAdvance_ < 0)
        xAdvance_ = fontMetrics().horizontalAdvance(u'x');
    return xAdvance_;
}

QRect ValueLabel::textArea(const QRect &contents) const {
    // Where QLabel puts its text: the contents less the margin, less the
    // indent on the aligned sides (a framed label without an indent of its
    // own keeps half an 'x' from the frame).
    QRect cr = contents.adjusted(margin(), margin(), -margin(), -margin());
    const int align = QStyle::visualAlignment(Qt::LeftToRight, alignment());
    int indent = this->indent();
    if (indent < 0 && frameWidth())
        indent = xAdvance() / 2 - margin();
    if (indent > 0) {
        if (align & Qt::AlignLeft)
            cr.setLeft(cr.left() + indent);
        if (align & Qt::AlignRight)
            cr.setRight(cr.right() - indent);
        if (align & Qt::AlignTop)
            cr.setTop(cr.top() + indent);
        if (align & Qt::AlignBottom)
            cr.setBottom(cr.bottom() - indent);
    }
    return cr;
}

qreal ValueLabel::fromLeft(const QRectF &area, qreal width) const {
    const int align = QStyle::visualAlignment(Qt::LeftToRight, alignment());
    if (align & Qt::AlignRight)
        return area.width() - width;
    if (align & Qt::AlignHCenter)
        return (area.width() - width) / 2;
    return 0;
}

qreal ValueLabel::onGrid(qreal v) {
    // Text lands on the 1/64 pixel grid its layout works in.
    return qRound(v * 64) / 64.0;
}

qreal ValueLabel::penX(const QRectF &area, qreal advance) const {
    return onGrid(area.x() + fromLeft(area, advance));
}

QRect ValueLabel::changedPart(const QString &from, const QString &to) const {
    if (from == to)
        return {};
    // Worked out from the last paint, where it painted from glyphs, one
    // pixel to the device pixel, and for a text it would paint from glyphs
    // too. Left of both texts' ink the pixels are the background in both.
    const FontGlyphs *f = painted_.glyphs;
    const QRect &contents = painted_.contents;
    if (!f || contents.isEmpty() || from != painted_.text || to.isEmpty() || to.front().isSpace() ||
        to.back().isSpace())
        return contentsRect();
    qreal fromAdvance = 0, toAdvance = 0, fromInk = 0, toInk = 0;
    if (!inkFrom(*f, to, 0, toAdvance, toInk))
        return contentsRect();
    const qreal toPen = penX(painted_.area, toAdvance);
    // Where the new text starts at the same pen position, every glyph before
    // the first changed character keeps its place and its pixels (a running
    // total keeps most of its digits); where it starts elsewhere (a figure
    // aligned right whose advance changed), every glyph moved.
    qsizetype first = 0;
    if (toPen == painted_.penX)
        while (first < from.size() && first < to.size() && from[first] == to[first])
            ++first;
    // The new text's ink from the first character is known already.
    if (!inkFrom(*f, from, first, fromAdvance, fromInk) ||
        (first > 0 && !inkFrom(*f, to, first, toAdvance, toInk)))
        return contentsRect();
    // Two pixels more for antialiasing, which spreads a glyph by one.
    const int left = qFloor(std::min(painted_.penX + fromInk, toPen + toInk)) - 2;
    QRect part = contents;
    part.setLeft(std::max(contents.left(), left));
    return part;
}

void ValueLabel::setChangedText(const QString &text) {
    const QRect part = changedPart(this->text(), text);
    if (part.isEmpty() || testAttribute(Qt::WA_UpdatesDisabled)) {
        setText(text);
        return;
    }
    // QLabel repaints all its contents for a new text.
    setAttribute(Qt::WA_UpdatesDisabled);
    setText(text);
    setAttribute(Qt::WA_UpdatesDisabled, false);
    update(part);
}

void showFigure(QLabel *label, const QString &text) {
    if (auto *value = dynamic_cast<ValueLabel *>(label))
        value->setChangedText(text);
    else
        label->setText(text);
}
