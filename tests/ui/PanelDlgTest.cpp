#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "PanelFixture.h"

namespace {

using PanelTest = PanelFixture;

TEST_F(PanelTest, TemplateHasTheKeysInTabOrderAndQuitAsDefault) {
  EXPECT_EQ(panel->windowTitle(), "Quillmark");
  QWidget* widget = Button(80);
  ASSERT_NE(widget, nullptr);
  for (const DesignKey& row : kDesignKeys) {
    SCOPED_TRACE(std::string(row.key));
    QPushButton* button = Button(row.controlId);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->text().toStdString(), row.caption);
    EXPECT_EQ(button->accessibleName().toStdString(), row.key);
    EXPECT_EQ(widget, button) << "tab order follows the template";
    widget = widget->nextInFocusChain();
    while (widget && widget->focusPolicy() != Qt::StrongFocus) widget = widget->nextInFocusChain();
  }
  QPushButton* quit = Button(1);
  ASSERT_NE(quit, nullptr);
  EXPECT_EQ(quit->text(), "&Quit");
  EXPECT_TRUE(quit->isDefault());
  QWidget* spin = panel->Control(IDC_SPIN1);
  ASSERT_NE(spin, nullptr);
  EXPECT_FALSE(spin->isVisible());
  EXPECT_EQ(QApplication::focusWidget(), Button(80)) << "focus starts on prog";
}

TEST_F(PanelTest, MenuHasItsCommands) {
  std::vector<std::pair<QString, unsigned>> items;
  for (QAction* menu : panel->MenuBar()->actions()) {
    for (QAction* item : menu->menu()->actions()) items.emplace_back(menu->text() + "/" + item->text(), item->data().toUInt());
  }
  const std::vector<std::pair<QString, unsigned>> expected = {
      {"&File/&Preferences...", 32771},
#ifndef _WIN32
      // The one item beyond the design's menu, right after Preferences (where the build
      // has the remote server).
      {"&File/&Remote control...", 32776},
#endif
      {"&File/E&xit", 32772}, {"&Help/&Website", 32773},
      {"&Help/&Check for updates", 32774}, {"&Help/About Quillmark...", 32775}};
  EXPECT_EQ(items, expected);
}

TEST_F(PanelTest, ClickingEachButtonSendsItsKeyOnce) {
  prefs->m_nTargetDeviceId = 42;
  for (const DesignKey& row : kDesignKeys) {
    SCOPED_TRACE(std::string(row.key));
    const std::size_t before = Sent().size();
    QTest::mouseClick(Button(row.controlId), Qt::LeftButton);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), before + 1);
    EXPECT_EQ(sent.back(), DesignMessage(row, 42));
  }
}

TEST_F(PanelTest, MappedKeysSendTheirKeyAndMoveTheFocus) {
  struct Case {
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* row;
  };
  const Qt::KeyboardModifiers none = Qt::NoModifier;
  const Qt::KeyboardModifiers pad = Qt::KeypadModifier;
  const std::vector<Case> cases = {
      {Qt::Key_P, none, "prog"},          {Qt::Key_F, none, "func"},
      {Qt::Key_A, none, "para"},          {Qt::Key_1, pad, "1"},
      {Qt::Key_5, pad, "5"},              {Qt::Key_9, pad, "9"},
      {Qt::Key_0, pad, "0"},              {Qt::Key_Period, pad, "point"},
      {Qt::Key_Minus, pad, "minus"},      {Qt::Key_Up, none, "up"},
      {Qt::Key_Down, none, "down"},       {Qt::Key_X, none, "cxl"},
      {Qt::Key_Return, none, "ent"},      {Qt::Key_Enter, pad, "ent"},
      {Qt::Key_E, none, "ent"},           {Qt::Key_R, none, "reset"},
      {Qt::Key_B, none, "byp"},           {Qt::Key_L, none, "level"},
      {Qt::Key_F1, none, "F1"},           {Qt::Key_F4, none, "F4"},
      {Qt::Key_P, Qt::ShiftModifier, "prog"}, {Qt::Key_P, Qt::ControlModifier, "prog"},
      {Qt::Key_Up, pad, "up"},            {Qt::Key_Down, pad, "down"},  // keypad 8 and 2, Num Lock off
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.row);
    Button(1)->setFocus();
    const std::size_t before = Sent().size();
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(c.key), c.modifiers);
    const auto sent = Sent();
    ASSERT_EQ(sent.size(), before + 1);
    EXPECT_EQ(sent.back(), Expected(c.row));
    EXPECT_EQ(QApplication::focusWidget(), Button(DesignKeyNamed(c.row).controlId));
    EXPECT_TRUE(panel->isVisible()) << "neither Enter nor F1 ends or leaves the panel";
  }
}

TEST_F(PanelTest, KeypadKeysWithNumLockOffOutsideTheTableSendNothing) {
  for (int key : {Qt::Key_Home, Qt::Key_Clear, Qt::Key_Delete, Qt::Key_PageUp}) {
    QTest::keyClick(QApplication::focusWidget(), static_cast<Qt::Key>(key), Qt::KeypadModifier);
  }
  EXPECT_TRUE(Sent().empty());
}

TEST_F(PanelTest, AutoRepeatSendsOneMessagePerKeyDown) {
  QWidget* focus = QApplication::focusWidget();
  for (bool repeat : {false, true, true}) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, QString(), repeat);
    QApplication::sendEvent(focus, &press);
    focus = QApplication::focusWidget();
  }
  EXPECT_EQ(Sent().size(), 3u);
}

TEST_F(PanelTest, OtherKeysGetTheStandardDialogHandling) {
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Button(70)) << "Tab moves on from prog";
  EXPECT_TRUE(Sent().empty());

  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent().back(), Expected("func"));
  EXPECT_EQ(QApplication::focusWidget(), Button(70));

  struct Mnemonic {
    Qt::Key key;
    const char* text;
    const char* row;
  };
  for (const Mnemonic m : {Mnemonic{Qt::Key_1, "1", "1"}, Mnemonic{Qt::Key_7, "7", "7"},
                           Mnemonic{Qt::Key_Period, ".", "point"}, Mnemonic{Qt::Key_Minus, "-", "minus"}}) {
    SCOPED_TRACE(m.text);
    const std::size_t before = Sent().size();
    QTest::keyClick(QApplication::focusWidget(), m.key, Qt::NoModifier);
    ASSERT_EQ(Sent().size(), before + 1);
    EXPECT_EQ(Sent().back(), Expected(m.row));
    EXPECT_EQ(QApplication::focusWidget(), Button(70)) << "a mnemonic press does not move the focus";
  }
  const std::size_t before = Sent().size();
  for (Qt::Key key : {Qt::Key_Z, Qt::Key_Left, Qt::Key_Backspace}) QTest::keyClick(QApplication::focusWidget(), key);
  EXPECT_EQ(Sent().size(), before);
  EXPECT_TRUE(panel->isVisible());
}

// Keys typed into an open menu stay with it, however the menu was opened: an open menu
// hands keys it has no use for to the menu bar, which belongs to the panel.
TEST_F(PanelTest, AnOpenMenuTakesEveryKey) {
  QAction* help = panel->MenuBar()->actions().at(1);
  const std::vector<std::pair<const char*, std::function<void()>>> openings = {
      {"Alt+H", [&] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_H, Qt::AltModifier); }},
      {"click", [&] {
         QTest::mouseClick(panel->MenuBar(), Qt::LeftButton, {},
                           panel->MenuBar()->actionGeometry(help).center());
       }},
  };
  const std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>> keys = {
      {Qt::Key_X, Qt::NoModifier},  {Qt::Key_A, Qt::NoModifier},      {Qt::Key_P, Qt::ShiftModifier},
      {Qt::Key_R, Qt::NoModifier},  {Qt::Key_1, Qt::KeypadModifier},  {Qt::Key_Up, Qt::NoModifier},
      {Qt::Key_F1, Qt::NoModifier}, {Qt::Key_Minus, Qt::KeypadModifier}};
  for (const auto& [how, open] : openings) {
    SCOPED_TRACE(how);
    open();
    ASSERT_NE(QApplication::activePopupWidget(), nullptr);
    for (const auto& [key, modifiers] : keys) {
      QTest::keyClick(QApplication::activePopupWidget(), key, modifiers);
      ASSERT_NE(QApplication::activePopupWidget(), nullptr) << "the menu stays open";
    }
    EXPECT_TRUE(Sent().empty());
    QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
    QTest::keyClick(QApplication::activePopupWidget() ? QApplication::activePopupWidget() : panel->MenuBar(),
                    Qt::Key_Escape);
    ASSERT_EQ(QApplication::activePopupWidget(), nullptr);
  }
  Button(80)->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_X);
  EXPECT_EQ(Sent(), std::vector<std::vector<std::uint8_t>>{Expected("cxl")}) << "closed, the panel has its keys back";
}

// Alt keys are mnemonics of the menus and buttons, and other windows keep their own keys.
TEST_F(PanelTest, AltKeysAndKeysOfOtherWindowsSendNothing) {
  // Held with Alt, keys of the table are left to the standard handling (mnemonics).
  const std::pair<Qt::Key, Qt::KeyboardModifiers> altKeys[] = {
      {Qt::Key_Up, Qt::AltModifier},     {Qt::Key_Down, Qt::AltModifier},
      {Qt::Key_Return, Qt::AltModifier}, {Qt::Key_F1, Qt::AltModifier},
      {Qt::Key_F, Qt::AltModifier},      {Qt::Key_Up, Qt::AltModifier | Qt::ShiftModifier}};
  for (const auto& [key, modifiers] : altKeys) {
    SCOPED_TRACE(QKeySequence(key | modifiers).toString().toStdString());
    Button(80)->setFocus();
    QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    while (QWidget* menu = QApplication::activePopupWidget()) QTest::keyClick(menu, Qt::Key_Escape);
    EXPECT_TRUE(Sent().empty());
  }
  const std::size_t sentBefore = Sent().size();

  QDialog other(panel.get());
  auto* field = new QLineEdit(&other);
  auto* ok = new QPushButton(QStringLiteral("OK"), &other);
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, &other, &QDialog::accept);
  other.show();
  other.activateWindow();
  field->setFocus();
  for (Qt::Key key : {Qt::Key_P, Qt::Key_Up, Qt::Key_F1, Qt::Key_Return}) QTest::keyClick(field, key);
  EXPECT_EQ(Sent().size(), sentBefore);
  EXPECT_EQ(field->text(), "p") << "typed into the field";
  EXPECT_EQ(other.result(), QDialog::Accepted) << "Enter presses the other window's default button";
}

TEST_F(PanelTest, QEndsThePanelThroughQuitAndEscapeCancels) {
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Q);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(panel->result(), QDialog::Accepted);
  EXPECT_TRUE(Sent().empty());

  panel->show();
  panel->activateWindow();
  Button(80)->setFocus();
  QTest::keyClick(Button(80), Qt::Key_Escape);
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(panel->result(), QDialog::Rejected);
}

TEST_F(PanelTest, CommandsSendOnlyForKeyButtonsWhateverTheNotification) {
  panel->OnCommand(69 | (0x1234u << 16), 0);
  ASSERT_EQ(Sent().size(), 1u);
  EXPECT_EQ(Sent().back(), Expected("ent"));
  panel->OnCommand(IDC_SPIN1, 0);
  panel->OnCommand(ID_HELP_WEBSITE + 100, 0);
  EXPECT_EQ(Sent().size(), 1u);
  EXPECT_TRUE(panel->isVisible());
  EXPECT_TRUE(panel->OnCommand(1, 0)) << "Quit is handled by the base routing";
  EXPECT_FALSE(panel->isVisible());
}

TEST_F(PanelTest, DeactivationReleasesThePortOnlyWhenTheSettingAsks) {
  for (int setting : {1, 0}) {
    prefs->m_bReleaseOnDeactivate = setting;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_P);
    ASSERT_TRUE(g_pMidiXmit->IsOpen());
    panel->OnActivateApp(true);
    EXPECT_TRUE(g_pMidiXmit->IsOpen());
    panel->OnActivateApp(false);
    EXPECT_EQ(g_pMidiXmit->IsOpen(), setting == 0) << setting;
  }
}

TEST(TilePositionsTest, TilesStartOnePixelInAndStayInside) {
  std::vector<QPoint> expected;
  for (int y : {1, 11, 21, 31, 41}) {
    for (int x = 1; x <= 91; x += 10) expected.emplace_back(x, y);
  }
  EXPECT_EQ(TilePositions({100, 50}, {10, 10}), expected);
  EXPECT_EQ(TilePositions({100, 50}, {300, 300}), std::vector<QPoint>{QPoint(1, 1)});
  EXPECT_TRUE(TilePositions({1, 50}, {10, 10}).empty());
  EXPECT_TRUE(TilePositions({100, 50}, {0, 0}).empty());
}

// Should the panel ever open a FIFO background again, this writer lets it go after ten
// seconds and reports it, so that the test fails instead of hanging. It only ever opens
// the FIFO when a reader is already waiting there.
class FifoRescuer {
 public:
  explicit FifoRescuer(std::string path)
      : m_thread([this, fifo = std::move(path)] {
          std::unique_lock<std::mutex> lock(m_mutex);
          if (m_changed.wait_for(lock, std::chrono::seconds(10), [this] { return m_done; })) return;
          const int fd = open(fifo.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
          if (fd >= 0) {
            m_rescued = true;
            close(fd);
          }
        }) {}
  ~FifoRescuer() { Finish(); }
  // True when a reader had got stuck in the FIFO.
  bool Finish() {
    {
      const std::lock_guard<std::mutex> lock(m_mutex);
      m_done = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) m_thread.join();
    return m_rescued;
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_done = false;
  bool m_rescued = false;
  std::thread m_thread;
};

class BackgroundTest : public PanelFixture {
 protected:
  std::string PathOf(const char* name) const { return dir.filePath(name).toStdString(); }
  QTemporaryDir dir;
};

TEST_F(BackgroundTest, BitmapLoadsAndTilesWithARaisedEdge) {
  QImage tile(10, 10, QImage::Format_RGB32);
  tile.fill(Qt::red);
  ASSERT_TRUE(tile.save(QString::fromStdString(PathOf("red.bmp")), "BMP"));
  prefs->m_strBackground = PathOf("red.bmp");
  panel->LoadBackground();
  ASSERT_TRUE(panel->HasBackground());
  EXPECT_EQ(panel->BackgroundSize(), QSize(10, 10));
  const QImage shot = panel->Client()->grab().toImage();
  EXPECT_EQ(QColor(shot.pixel(5, 5)), QColor(Qt::red));
  EXPECT_NE(QColor(shot.pixel(0, 0)), QColor(Qt::red)) << "the edge covers the first row and column";
}

TEST_F(BackgroundTest, MissingOrNonBitmapFilesGiveTheStandardBackgroundAndAreNotRetried) {
  QImage png(10, 10, QImage::Format_RGB32);
  png.fill(Qt::green);
  ASSERT_TRUE(png.save(QString::fromStdString(PathOf("fake.bmp")), "PNG"));
  // A FIFO with no writer would block whoever opens it; a folder is no file either.
  ASSERT_EQ(mkfifo(PathOf("fifo.bmp").c_str(), 0600), 0);
  ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("folder.bmp")));
  for (const std::string& path : {PathOf("fifo.bmp"), PathOf("folder.bmp"), PathOf("fake.bmp"), PathOf("missing.bmp")}) {
    SCOPED_TRACE(path);
    prefs->m_strBackground = path;
    FifoRescuer rescuer(PathOf("fifo.bmp"));
    panel->LoadBackground();
    EXPECT_FALSE(rescuer.Finish()) << "the background was opened although it is no regular file";
    EXPECT_FALSE(panel->HasBackground());
    EXPECT_EQ(panel->BackgroundPath(), path);
  }
  ASSERT_TRUE(png.save(QString::fromStdString(PathOf("missing.bmp")), "BMP"));
  panel->LoadBackground();
  EXPECT_FALSE(panel->HasBackground()) << "the same path is not tried again";
  prefs->m_strBackground.clear();
  panel->LoadBackground();
  EXPECT_EQ(panel->BackgroundPath(), "");
  prefs->m_strBackground = PathOf("missing.bmp");
  panel->LoadBackground();
  EXPECT_TRUE(panel->HasBackground()) << "a changed setting tries again";
}

}  // namespace
