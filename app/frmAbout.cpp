// Placeholder body until the about window lands: the window links and stays inert.
#include "FrmMain.h"

namespace metronel {

void FrmMain::MnuAbout_Click() {}

} // namespace metronel
