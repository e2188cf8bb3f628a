#include "ui/chat/save_format_dlg.h"

#include <QKeyEvent>
#include <QVBoxLayout>

#include "ui/chat/chat_texts.h"
#include "ui/common/texts.h"
#include "ui/skin/controls.h"

CDlgSaveFormat::CDlgSaveFormat(QWidget* parent) : Cgood_dlg(parent) {
    setWindowTitle(ui_text(T_CHAT_SAVE_FORMAT));
    auto* box = new QVBoxLayout(this);
    m_rtf = new CMyButton(ui_text(T_CHAT_SAVE_RTF), this);
    m_text = new CMyButton(ui_text(T_CHAT_SAVE_TEXT), this);
    m_cancel = new CMyButton(ui_text(T_CANCEL), this);
    for (CMyButton* b : {m_rtf, m_text, m_cancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
        box->addWidget(b);
    }
    connect(m_rtf, &QPushButton::clicked, this, [this] { done(kRtf); });
    connect(m_text, &QPushButton::clicked, this, [this] { done(kText); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { done(kCancel); });
    resize(240, 150);
}

void CDlgSaveFormat::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        done(kNoChoice);
        return;
    }
    Cgood_dlg::keyPressEvent(e);
}
