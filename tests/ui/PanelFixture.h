// A front panel on the offscreen platform with the fake device, a hand-pumped engine
// queue, recorded boxes and a settings holder on the private test profile.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <memory>
#include <vector>

#include "DesignKeys.h"
#include "FakeMidiServices.h"
#include "desktop/ManualUiQueue.h"
#include "RecordingSeams.h"
#include "settings/PrefsDlg.h"
#include "midi/MidiXmit.h"
#include "midi/OutputStream.h"
#include "remote/KeyTable.h"
#include "ui/qt/PanelDlg.h"

class PanelFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(StreamLibInit(&fake, &ui), 1);
    prefs = std::make_unique<CPrefsDlg>();
    SetPrefsDlg(prefs.get());
    g_pMidiXmit = new CMidiXmit();
    panel = std::make_unique<CPanelDlg>();
    panel->OnInitDialog();
    panel->show();
    panel->activateWindow();
    QApplication::processEvents();
  }
  void TearDown() override {
    panel.reset();
    delete g_pMidiXmit;
    g_pMidiXmit = nullptr;
    SetPrefsDlg(nullptr);
    prefs.reset();
    EXPECT_EQ(StreamLibExit(), 1);
    for (const auto& violation : fake.Violations()) ADD_FAILURE() << violation;
  }

  // The bytes a key sends, from the documented key table and message layout.
  std::vector<std::uint8_t> Expected(const char* name) const {
    return DesignMessage(DesignKeyNamed(name), prefs->m_nTargetDeviceId);
  }

  // Everything sent so far, after the engine's posts have been dispatched.
  std::vector<std::vector<std::uint8_t>> Sent() {
    ui.Pump();
    return fake.LongMessages();
  }
  QPushButton* Button(unsigned id) const { return qobject_cast<QPushButton*>(panel->Control(id)); }

  FakeMidiServices fake;
  ManualUiQueue ui;
  RecordingSeams seams;
  std::unique_ptr<CPrefsDlg> prefs;
  std::unique_ptr<CPanelDlg> panel;
};
