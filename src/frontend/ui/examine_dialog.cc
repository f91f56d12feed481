#include "frontend/ui/examine_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

#include "frontend/core/examine_text.h"
#include "frontend/ui/ui_services.h"

CDlgExamine::CDlgExamine(QWidget* parent) : QDialog(parent) {
  setObjectName("IDD_EXAMINE");
  setWindowTitle(frontend::kExamineCaption);
  setModal(false);
  text_ = new QPlainTextEdit(this);
  text_->setObjectName("IDC_EXAMINE_TEXT");
  text_->setReadOnly(true);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  text_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  resize(560, 600);
}

CDlgExamine::~CDlgExamine() = default;

void CDlgExamine::ExamineFile(const std::string& path) {
  QString name = QFile::decodeName(QByteArray::fromStdString(path));
  setWindowTitle(name);
  // The whole dump arrives in one piece; "\r\n" is one line break here.
  std::string shown = display_text(frontend::ExamineFile(path));
  text_->setPlainText(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())));
  text_->moveCursor(QTextCursor::End);
  text_->ensureCursorVisible();
}

QString CDlgExamine::text() const { return text_->toPlainText(); }

CDlgExamine* openExamineWindow(const std::string& path, QWidget* parent) {
  auto* window = new CDlgExamine(parent);
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->ExamineFile(path);
  window->show();
  return window;
}
