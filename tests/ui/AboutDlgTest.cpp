#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>
#include <QtTest/QTest>
#include <functional>
#include <memory>

#include "RecordingSeams.h"
#include "app/qt/QtUserSeams.h"
#include "settings/PrefsDlg.h"
#include "ui/qt/AboutDlg.h"
#include "ui/qt/DialogBuilder.h"
#include "ui/qt/StaticLink.h"

namespace {

QColor TextColour(const QLabel& label) { return label.palette().color(QPalette::WindowText); }

const QColor kBlue(0, 0, 255);
const QColor kPurple(128, 0, 128);

// Shows an About box; act runs inside its modal loop, after which the box is closed.
void RunAbout(const std::function<void(CAboutDlg&)>& act) {
  CAboutDlg about;
  QTimer::singleShot(0, [&] {
    act(about);
    about.reject();
  });
  about.DoModal();
}

TEST(AboutDlgTest, ShowsTheVersionAndItsLinkMailsWithTheVersionAsSubjectThenStaysPurple) {
  RecordingSeams seams;
  CPrefsDlg prefs;
  SetPrefsDlg(&prefs);
  RunAbout([&](CAboutDlg& about) {
    EXPECT_EQ(about.windowTitle(), "About Quillmark");
    auto* version = qobject_cast<QLineEdit*>(about.Control(1006));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text().toStdString(), prefs.m_strVersionText);
    EXPECT_TRUE(version->isReadOnly());
    EXPECT_EQ(about.focusWidget(), about.Control(QM_IDOK));
    auto* link = qobject_cast<QLabel*>(about.Control(1005));
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(g_aboutLink.Control(), link);
    EXPECT_NE(link->focusPolicy(), Qt::StrongFocus) << "the link is no tab stop";
    EXPECT_FALSE(link->testAttribute(Qt::WA_TransparentForMouseEvents));

    about.grab();  // paints
    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(TextColour(*link), kBlue);
    QTest::mousePress(link, Qt::LeftButton);
    EXPECT_EQ(g_aboutLink.m_textColor, CStaticLink::visitedColor);
    about.grab();
    EXPECT_EQ(TextColour(*link), kPurple);
  });
  EXPECT_EQ(g_aboutLink.Control(), nullptr) << "let go when the box went";
  ASSERT_EQ(seams.Opened().size(), 1u);
  EXPECT_EQ(seams.Opened()[0], prefs.m_strMailtoUrl);
  EXPECT_EQ(prefs.m_strMailtoUrl.rfind("mailto:", 0), 0u);
  EXPECT_NE(prefs.m_strMailtoUrl.find("?Subject=" + prefs.m_strVersionText), std::string::npos);

  RunAbout([&](CAboutDlg& about) {
    auto* link = qobject_cast<QLabel*>(about.Control(1005));
    about.grab();
    EXPECT_EQ(TextColour(*link), kPurple) << "still visited in the next box";
  });
  SetPrefsDlg(nullptr);
}

// The desktop's opener, stood in for by a script on the PATH that writes its arguments
// to a FIFO the test reads.
TEST(ShellOpenTest, TheDesktopGetsTheMailLinkAsBuiltBlanksIncluded) {
  QTemporaryDir bin;
  ASSERT_TRUE(bin.isValid());
  const std::string fifo = bin.filePath("args").toStdString();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  QFile script(bin.filePath("xdg-open"));
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.write(("#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do echo \"$a\"; done; } > '" + fifo + "'\n").c_str());
  script.close();
  ASSERT_TRUE(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner));
  const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  const QByteArray path = qgetenv("PATH");
  qputenv("PATH", bin.path().toLocal8Bit() + ":" + path);

  const std::string link = "mailto:quillmark@vellicor.example?Subject=Quillmark version 1.0.0.0";
  QtUserSeams desktop;
  EXPECT_TRUE(desktop.ShellOpen(link));
  std::string received;
  for (;;) {
    pollfd ready{reader, POLLIN, 0};
    if (poll(&ready, 1, 30000) <= 0) break;  // bounded: a missing call fails below
    char buffer[512];
    const ssize_t n = read(reader, buffer, sizeof buffer);
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  close(reader);
  qputenv("PATH", path);
  EXPECT_EQ(received, "1\n" + link + "\n");
}

// A static text of a dialog, with the template's style.
struct LinkFixture {
  explicit LinkFixture(unsigned style, const QString& text) : label(new QLabel(text, &parent)) {
    label->setObjectName("control1005");
    label->setProperty("controlStyle", style);
    label->resize(100, 20);
  }
  QWidget parent;
  QLabel* label;
};

TEST(StaticLinkTest, ClickRules) {
  struct Case {
    const char* what;
    const char* url;  // given at construction
    QString text;     // the control's text
    unsigned style;
    bool shellSucceeds;
    std::vector<std::string> opened;
    std::vector<unsigned> beeps;
    COLORREF colour;
    std::string urlAfter;
  };
  const unsigned centred = dlgstyle::QM_SS_CENTER;
  const unsigned icon = 0x3;
  const std::vector<Case> cases = {
      {"opens its URL", "mailto:a@b.example", "text", centred, true, {"mailto:a@b.example"}, {},
       CStaticLink::visitedColor, "mailto:a@b.example"},
      {"no URL: the text is taken", nullptr, "http://x.example/", centred, true, {"http://x.example/"}, {},
       CStaticLink::visitedColor, "http://x.example/"},
      {"no URL, no text: nothing", nullptr, "", centred, true, {}, {}, CStaticLink::unvisitedColor, ""},
      {"shell fails: a beep, still blue", "mailto:a@b.example", "", centred, false, {"mailto:a@b.example"}, {0},
       CStaticLink::unvisitedColor, "mailto:a@b.example"},
      {"icon static still opens", "mailto:a@b.example", "", icon, true, {"mailto:a@b.example"}, {},
       CStaticLink::visitedColor, "mailto:a@b.example"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RecordingSeams seams;
    seams.shellOpenResult = c.shellSucceeds;
    LinkFixture dialog(c.style, c.text);
    CStaticLink link(c.url);
    ASSERT_TRUE(link.SubclassDlgItem(1005, &dialog.parent));
    QTest::mousePress(dialog.label, Qt::LeftButton);  // the press alone acts
    EXPECT_EQ(seams.Opened(), c.opened);
    EXPECT_EQ(seams.Beeps(), c.beeps);
    EXPECT_EQ(link.m_textColor, c.colour);
    EXPECT_EQ(link.m_url, c.urlAfter);
  }
}

TEST(StaticLinkTest, PaintColoursOnlyTextStaticsAndMakesTheFontOnce) {
  LinkFixture text(dlgstyle::QM_SS_LEFT, "link");
  LinkFixture icon(0x3, "icon");
  CStaticLink textLink("x:");
  CStaticLink iconLink("x:");
  ASSERT_TRUE(textLink.SubclassDlgItem(1005, &text.parent));
  ASSERT_TRUE(iconLink.SubclassDlgItem(1005, &icon.parent));
  const QColor iconColour = TextColour(*icon.label);

  EXPECT_FALSE(textLink.HasUnderlineFont()) << "none before the first paint";
  text.label->grab();
  icon.label->grab();
  EXPECT_TRUE(textLink.HasUnderlineFont());
  EXPECT_TRUE(text.label->font().underline());
  EXPECT_EQ(TextColour(*text.label), kBlue);
  EXPECT_FALSE(iconLink.HasUnderlineFont());
  EXPECT_FALSE(icon.label->font().underline());
  EXPECT_EQ(TextColour(*icon.label), iconColour);

  // The font made at the first paint is the one kept, whatever the control's font later.
  QFont bigger = text.label->font();
  bigger.setPointSize(bigger.pointSize() + 6);
  bigger.setUnderline(false);
  text.label->setFont(bigger);
  text.label->grab();
  EXPECT_TRUE(text.label->font().underline());
  EXPECT_NE(text.label->font().pointSize(), bigger.pointSize());
}

TEST(StaticLinkTest, LetsGoOfADestroyedControlAndAttachesToTheNext) {
  RecordingSeams seams;
  CStaticLink link("x:");
  {
    LinkFixture first(dlgstyle::QM_SS_CENTER, "one");
    ASSERT_TRUE(link.SubclassDlgItem(1005, &first.parent));
    EXPECT_EQ(link.Control(), first.label);
  }
  EXPECT_EQ(link.Control(), nullptr);
  EXPECT_FALSE(link.SubclassDlgItem(1006, nullptr));
  LinkFixture second(dlgstyle::QM_SS_CENTER, "two");
  ASSERT_TRUE(link.SubclassDlgItem(1005, &second.parent));
  QTest::mousePress(second.label, Qt::LeftButton);
  EXPECT_EQ(seams.Opened().size(), 1u);
  EXPECT_TRUE(link.OnSetCursor());
  EXPECT_EQ(second.label->cursor().shape(), Qt::PointingHandCursor);
}

}  // namespace
