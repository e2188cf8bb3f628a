// The base class of every dialog of this folder: the skinned frameless dialog.
#pragma once
#include "ui/skin/good_dlg.h"

using parlo_dialog = Cgood_dlg;
