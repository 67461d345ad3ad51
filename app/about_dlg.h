// The About box: the icon, the version text and an OK button. Each command builds a new one.
#pragma once

#include <QDialog>

namespace quelt {

class AboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit AboutDlg(QWidget* owner);
};

}  // namespace quelt
