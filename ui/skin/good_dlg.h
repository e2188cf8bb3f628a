// Skinned dialogs: frameless Qt dialogs that paint their own title bar (bitmaps of the palette),
// title-bar buttons with normal/hover/pressed pictures, a one-pixel frame in three colours, a strip
// below the title and a background stretched from a one-pixel column. Cgood_dlg is the base of
// every dialog but the main window: one close button, rounded top corners. Cgood_dlg_resize_main
// is the main window's base: close, maximise and minimise, a rectangular resizable window.
//
// Children are laid out inside contentsMargins(), which keep clear of the title bar and the frame.
// Everything here runs on the GUI thread.
#pragma once
#include <QDialog>
#include <QRect>

class QSizeGrip;

// Picture state of a title-bar button.
enum title_button_state { TB_NORMAL = 0, TB_HOVER = 1, TB_PRESSED = 2 };

class Cgood_dlg : public QDialog {
    Q_OBJECT
public:
    explicit Cgood_dlg(QWidget* parent = nullptr);

    static constexpr int kTitleHeight = 22;
    // Height of the filled strip between the title bar and the client area.
    static constexpr int kStripHeight = 4;

    // Background entry for a window of this height: 25 up to 300 pixels, 24 above.
    static int background_entry(int height);
    int close_state() const { return m_close_state; }
    // Rectangle of the close button in window coordinates.
    virtual QRect close_rect() const;

protected:
    virtual int background_for_height(int height) const { return background_entry(height); }
    // The caption rectangle's right edge is width - 41.
    void paintEvent(QPaintEvent*) override;
    void paint_title_bar(QPainter& p, int buttons_width, int piece_x);
    void paint_frame_and_background(QPainter& p);
    void resizeEvent(QResizeEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void leaveEvent(QEvent*) override;
    void changeEvent(QEvent*) override;
    bool in_title_band(QPoint p) const;
    // Title-bar button under p: 0 none, 1 close, 2 maximise, 3 minimise.
    virtual int button_at(QPoint p) const;
    // Sets the state of button b (1-3) and resets the others; repaints on change.
    virtual void set_button_state(int b, int state);
    virtual int button_state(int b) const;
    // A completed click on button b.
    virtual void button_clicked(int b);
    bool m_rounded = true;

private:
    void update_mask();
    int m_close_state = TB_NORMAL;
};

class Cgood_dlg_resize_main : public Cgood_dlg {
    Q_OBJECT
public:
    explicit Cgood_dlg_resize_main(QWidget* parent = nullptr);

    // 25 up to 300 pixels, 24 up to 600, 26 above.
    static int background_entry(int height);
    QRect close_rect() const override;
    QRect maximise_rect() const;
    QRect minimise_rect() const;
    int main_button_state(int b) const { return button_state(b); }

protected:
    int background_for_height(int height) const override { return background_entry(height); }
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    int button_at(QPoint p) const override;
    void set_button_state(int b, int state) override;
    int button_state(int b) const override;
    void button_clicked(int b) override;

private:
    int m_states[4] = {0, 0, 0, 0};
    QSizeGrip* m_grip;
};
