// "Choose Save Format": RTF, text or Cancel. Enter without a choice ends it with kNoChoice, which
// the chat window answers with "Invlidate save type.".
#pragma once
#include "ui/skin/good_dlg.h"

class CMyButton;

class CDlgSaveFormat : public Cgood_dlg {
    Q_OBJECT
public:
    enum { kCancel = 0, kRtf = 1, kText = 2, kNoChoice = 3 };
    explicit CDlgSaveFormat(QWidget* parent = nullptr);
    CMyButton* rtf_button() const { return m_rtf; }
    CMyButton* text_button() const { return m_text; }
    CMyButton* cancel_button() const { return m_cancel; }
    void reject() override { done(kCancel); }

protected:
    void keyPressEvent(QKeyEvent* e) override;

private:
    CMyButton *m_rtf, *m_text, *m_cancel;
};
