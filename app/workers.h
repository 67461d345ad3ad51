// The write and verify workers, run on their own thread with the window as parameter. They touch
// no widget: every control change and box goes through the window's forwarding operations.
#pragma once

namespace quelt {

class FlasherDlg;

void WriteWorker(FlasherDlg* window);
void VerifyWorker(FlasherDlg* window);
// Disables both buttons, then turns button `id` into an enabled "Cancel" button.
void ShowBusyButtons(FlasherDlg* window, int id);

}  // namespace quelt
