// Placeholder bodies until the tempo fields land: the window links and stays inert.
#include "FrmMain.h"

namespace metronel {

void FrmMain::Txt_Change(int) {}
void FrmMain::Txt_Validate(int, bool&) {}
void FrmMain::ResetTempoFields() {}
void FrmMain::ResetSamplesFromData() {}
void FrmMain::udSamples_MouseButton(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}
bool FrmMain::Txt_KeyPress(int, QChar) { return false; }
void FrmMain::Txt_MouseDown(int, Qt::MouseButton, Qt::KeyboardModifiers) {}
void FrmMain::MnuTimes_Click() {}
void FrmMain::MnuDivide_Click() {}
void FrmMain::MnuDivideRnd_Click() {}
void FrmMain::MnuIncDec_Click() {}
void FrmMain::MnuSemitone_Click() {}
void FrmMain::connectTempoFields() {}

} // namespace metronel
