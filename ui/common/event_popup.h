// The event pop-up: a small always-on-top window in the bottom-right corner of the screen that
// grows upward for one second, stays ten seconds and shrinks for four, without taking the
// keyboard focus. Five slots stack pop-ups upward; each slot counts the pop-ups using it.
#pragma once
#include <QPointer>
#include <QString>
#include <QWidget>

#include "ui/skin/good_dlg.h"

class QLabel;
class QTimer;

// The five slot counters. take() picks the lowest slot whose counter is 0, else the slot with
// the smallest counter below 100 (lowest index on a tie), else slot 0, and counts it.
class popup_slots {
public:
    static constexpr int kSlots = 5;
    int take();
    void release(int slot);
    int count(int slot) const { return m_counts[slot]; }

private:
    int m_counts[kSlots] = {0, 0, 0, 0, 0};
};
extern popup_slots g_event_slots;

// Height of a pop-up of full height h at step e (e counts down from 150; never below 23).
int popup_height(int e, int h);

class CDlgEvent : public Cgood_dlg {
    Q_OBJECT
public:
    static constexpr int kWidth = 200;
    static constexpr int kHeight = 90;  // H, the full height
    static constexpr int kStartStep = 150;

    // Places itself in a slot of places (the slot counters). With run_timer false, step() is driven
    // from outside (tests use it as their clock).
    CDlgEvent(const QString& text, popup_slots* places, bool run_timer = true);
    ~CDlgEvent() override;

    // One 100 ms tick: count e down, set the height (the bottom edge stays), close below 0.
    void step();
    int slot() const { return m_slot; }
    int step_value() const { return m_e; }
    int bottom_edge() const { return m_bottom; }
    QString text() const;
    void reject() override;
    // The window and widget that had the keyboard focus before the pop-up appeared.
    void remember_focus(QWidget* window, QWidget* focus);

protected:
    void changeEvent(QEvent*) override;

private:
    void close_popup();
    popup_slots* m_slots;
    int m_slot;
    int m_e = kStartStep;
    int m_bottom;
    int m_right;
    QLabel* m_text;
    QTimer* m_timer = nullptr;
    bool m_closed = false;
    QPointer<QWidget> m_focus_window;
    QPointer<QWidget> m_focus_widget;
};

// Shows a pop-up with the text shown as plain text, cut to 512 characters; returns it (it deletes
// itself when it closes).
CDlgEvent* show_event_popup(const QString& text);

// Closes at once every pop-up show_event_popup opened that is still on screen (the main window
// does this when it goes, so none outlives the session it tells about).
void close_event_popups();
