// CDlgViewInfo: the four texts of a contact, read-only.
#pragma once
#include "ui/dialogs/dialog_base.h"

struct contact_record;

class CDlgViewInfo : public parlo_dialog {
    Q_OBJECT
public:
    CDlgViewInfo(const contact_record& c, QWidget* parent = nullptr);
};
