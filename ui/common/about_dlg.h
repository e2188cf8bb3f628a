// The About box: the application icon, the version line, a second line and "OK".
#pragma once
#include "ui/skin/good_dlg.h"

class CAboutDlg : public Cgood_dlg {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
