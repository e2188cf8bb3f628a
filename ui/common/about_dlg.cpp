#include "ui/common/about_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "ui/common/texts.h"
#include "ui/skin/controls.h"
#include "ui/skin/palette.h"

CAboutDlg::CAboutDlg(QWidget* parent) : Cgood_dlg(parent) {
    setWindowTitle(ui_text(T_ABOUT_CAPTION));
    auto* box = new QVBoxLayout(this);
    auto* row = new QHBoxLayout();
    auto* icon = new QLabel(this);
    icon->setPixmap(resource_image(128).scaled(48, 48, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    row->addWidget(icon);
    auto* lines = new QVBoxLayout();
    lines->addWidget(new CMyStatic(ui_text(T_VERSION), this));
    auto* second = new CMyStatic(ui_text(T_ABOUT_LINE2), this);
    second->setWordWrap(true);
    second->setMinimumWidth(240);
    lines->addWidget(second);
    row->addLayout(lines);
    box->addLayout(row);
    auto* ok = new CMyButton(ui_text(T_OK), this);
    ok->setDefault(true);
    ok->setMinimumWidth(80);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(ok);
    box->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}
