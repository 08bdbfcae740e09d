// Placeholder bodies until wave output lands: the window links and stays inert.
#include "FrmMain.h"

namespace metronel {

void FrmMain::MnuSaveAs_Click() {}
void FrmMain::MnuSplitAs_Click() {}

} // namespace metronel
