#pragma once

#include <QLabel>

namespace valuelabel {
struct FontGlyphs;
}

// Readies a label that the tick rewrites several times a second, so that a
// new text costs a repaint of that label and nothing more:
// - it fills its own background, so the repaint manager need not repaint
//   the tab page and group box beneath it;
// - its text is taken as plain text: what the system hands over (an
//   interface's description may hold '<' or '&') is never markup, and a
//   write skips the scan for it;
// - its size is fixed (its geometry never changes), so a new text does not
//   post a layout request to the parent.
// None of it changes a pixel of what the label shows.
void makeValueLabel(QLabel *label);

// A QLabel for a figure that changes on every tick. QLabel shapes its whole
// text again on each repaint, and with a window shown that shaping was most
// of a tick's cost, for the same dozen characters every time. This label
// shapes each character once per font and paints the text from those glyphs,
// at the pixels QLabel would paint. It does so only where that is known to be
// exact: the text is plain, on one line, and made only of characters whose
// pairs were shaped together and found to need nothing between them (no
// kerning, no ligature) in this font. Anything else is painted by QLabel.
//
// It stays a QLabel in every other way (text(), accessibility, style sheets
// see a QLabel), so it carries no Q_OBJECT of its own.
class ValueLabel : public QLabel {
public:
    explicit ValueLabel(QWidget *parent = nullptr);
    explicit ValueLabel(const QString &text, QWidget *parent = nullptr);

    // Whether the current text would be painted from cached glyphs.
    bool paintsFromGlyphs() const;
    // The width the current text needs, frame and margins included: from the
    // glyphs where the label paints from them, else what QLabel asks for.
    int textWidth() const;

    // Takes a new text as setText does, but repaints only what it changes:
    // from the first changed character on where the text starts where it
    // did (a running total keeps most of its digits), else from where
    // either text starts; less to paint and to send to the display.
    void setChangedText(const QString &text);
    // The part of the label (its coordinates) whose pixels differ between
    // the two texts; all the contents where that is not worked out.
    QRect changedPart(const QString &from, const QString &to) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // The last paint from glyphs: the font's glyphs, the text, where its pen
    // started, the area the text was placed in and the contents it was
    // painted in, one pixel to the device pixel. A new geometry or density
    // repaints the whole label anyway, so a part worked out from a stale
    // paint is never all that repaints.
    struct Painted {
        const valuelabel::FontGlyphs *glyphs = nullptr;
        QString text;
        qreal penX = 0;
        QRectF area;
        QRect contents;
    } painted_;
    // The width of an 'x' in the label's font, which places the text of a
    // framed label; asked for once per font, not on every paint.
    mutable int xAdvance_ = -1;
    int xAdvance() const;
    QRect textArea(const QRect &contents) const;
    qreal fromLeft(const QRectF &area, qreal width) const;
    qreal penX(const QRectF &area, qreal advance) const;
    static qreal onGrid(qreal v);
};

// Gives a label a new text; a ValueLabel repaints only what changed.
void showFigure(QLabel *label, const QString &text);
