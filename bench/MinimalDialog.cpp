// The yardstick of the start-up benchmark: the least a Qt program with the panel's 27
// buttons does before its window is on screen.
#include <QApplication>
#include <QDialog>
#include <QGridLayout>
#include <QPushButton>

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QDialog dialog;
  dialog.setWindowTitle(QStringLiteral("Quillmark"));
  auto* grid = new QGridLayout(&dialog);
  const char* const captions[] = {"&prog", "&func", "p&ara", "&1", "&2", "&3", "&4", "&5", "&6",
                                  "&7", "&8", "&9", "&.", "&0", "&-", "/\\", "\\/", "c&xl", "&ent",
                                  "&reset", "&byp", "&level", "F1", "F2", "F3", "F4", "&Quit"};
  int at = 0;
  for (const char* caption : captions) {
    grid->addWidget(new QPushButton(QString::fromLatin1(caption), &dialog), at / 7, at % 7);
    ++at;
  }
  return dialog.exec();
}
