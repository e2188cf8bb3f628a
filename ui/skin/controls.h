// Skinned controls: Qt widgets with their own painting in the palette's colours and the input
// rules of the program's controls. All GUI thread.
//  CMyButton          push button: bitmap or plain background, hover and focus frames
//  CMyStatic          static text; a link when clicks matter (clicked())
//  CMyCheckBox        check box that can be made read-only (input_enabled)
//  CMyComboBox        combo box, same read-only rule, white field, own frame
//  CMyEdit            multi-line edit with flat scroll bars
//  CMyEdit_no_scroll  single-line edit
//  CMyRichEdit        rich-text edit with flat scroll bars
#pragma once
#include <QCheckBox>
#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>

class CMyButton : public QPushButton {
    Q_OBJECT
public:
    explicit CMyButton(const QString& text = QString(), QWidget* parent = nullptr);
    bool hover() const { return m_hover; }
    // 1: solid 0xE0E0C0 background instead of the bitmap.
    void set_plain(bool plain) {
        m_plain = plain;
        update();
    }
    // The text colour for the current state: grey when disabled, white hovered, light grey else.
    QColor text_colour() const;

protected:
    void paintEvent(QPaintEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;
    void focusInEvent(QFocusEvent*) override;
    void focusOutEvent(QFocusEvent*) override;

private:
    bool m_hover = false;
    bool m_plain = false;
};

// Colours shared by the static text, check box and combo box.
struct skin_text_colours {
    QColor background;  // the system window colour at first
    QColor text;        // the system window-text colour at first
    bool transparent = true;
};

class CMyStatic : public QLabel {
    Q_OBJECT
public:
    explicit CMyStatic(const QString& text = QString(), QWidget* parent = nullptr);
    void set_transparent(bool t);
    void set_background(const QColor& c);
    // Makes the text a link: pointing hand, underline on hover, clicked() on a left click.
    void set_link(bool link);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent*) override;
    void enterEvent(QEnterEvent*) override;
    void leaveEvent(QEvent*) override;

private:
    void apply();
    skin_text_colours m_colours;
    bool m_link = false;
};

class CMyCheckBox : public QCheckBox {
    Q_OBJECT
public:
    explicit CMyCheckBox(const QString& text = QString(), QWidget* parent = nullptr);
    // While 0, key presses and left clicks are ignored: the box shows its value only.
    void set_input_enabled(bool on) { m_input_enabled = on; }
    bool input_enabled() const { return m_input_enabled; }

protected:
    bool event(QEvent*) override;

private:
    bool m_input_enabled = true;
};

class CMyComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit CMyComboBox(QWidget* parent = nullptr);
    void set_input_enabled(bool on) { m_input_enabled = on; }
    bool input_enabled() const { return m_input_enabled; }

protected:
    bool event(QEvent*) override;
    void wheelEvent(QWheelEvent*) override;

private:
    bool m_input_enabled = true;
};

class CMyEdit : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit CMyEdit(QWidget* parent = nullptr);
};

class CMyEdit_no_scroll : public QLineEdit {
    Q_OBJECT
public:
    explicit CMyEdit_no_scroll(QWidget* parent = nullptr);
};

class CMyRichEdit : public QTextEdit {
    Q_OBJECT
public:
    explicit CMyRichEdit(QWidget* parent = nullptr);
};

// The style sheet of the edits: white field, two-pixel frame, flat scroll bars in the palette.
QString skin_edit_style(const char* widget_class);
