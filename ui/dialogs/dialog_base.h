// The base class of every dialog of this folder. The skinned frameless dialog replaces QDialog
// here once it exists, and with it the look of all of them.
#pragma once
#include <QDialog>

using parlo_dialog = QDialog;
