// What the Preferences dialog does the same way in every front end: its texts, how its
// number fields are read, which background paths count, where the file dialog starts,
// and the MIDI output list with the choice each item stands for.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

inline constexpr char kByteRangeText[] = "Please enter an integer between 0 and 255.";
// "Please enter an integer between <nMin> and <nMax>."
std::string IntegerBetweenText(int nMin, int nMax);
inline constexpr char kInvalidBackgroundText[] = "Selected background image file is not valid.";

// The file dialog of the browse button.
inline constexpr char kSelectBitmapTitle[] = "Select Bitmap";
inline constexpr char kBitmapFilterName[] = "Bitmap Files (*.bmp)";
inline constexpr char kBitmapFilterPattern[] = "*.bmp";
inline constexpr char kBitmapExtension[] = "bmp";

// The up-down ranges in the platform's packed form: upper limit in the low 16 bits,
// lower limit in the high 16 bits.
inline constexpr unsigned kChannelRange = 0x00010010;   // 1 to 16
inline constexpr unsigned kDeviceIdRange = 0x00000063;  // 0 to 99

// A bound for the device lists, should a transport keep answering.
inline constexpr unsigned kMaxListedDevices = 4096;

// An unsigned decimal number of at most 255, blanks and tabs around it allowed. False for
// anything else (a sign, no digits, another character, a larger number).
bool ReadByte(std::string_view text, std::uint8_t& value);

// A field read the way the dialog manager reads an item as a signed integer: blanks
// around it, an optional sign; text that is not such a number, or does not fit 32 bits,
// reads as 0.
long long DialogItemInt(std::string_view text);

// Whether a background path names a regular file, looked up as the panel will open it:
// a folder, a FIFO or a device is no background, and a FIFO without a writer would block
// the panel for good. Wildcards never name a file on the desktop this program was first
// drawn for, so they count as not found everywhere.
bool IsUsableBackground(const std::string& path);

// The initial folder of the file dialog for a path: the path up to and including its
// last folder separator; empty (the platform's default) when it has none.
std::string BrowseDirectory(const std::string& path);

// The MIDI output list: the outputs as they are now, each stored or shown choice whose
// name is no longer among them as "<name> (not connected)", and the virtual port where
// the transports make one. A choice is "MIDI Output Device" and "MIDI Output Device Name"
// together.
inline constexpr char kNoOutputsItem[] = "No MIDI outputs found";
inline constexpr char kNotConnectedSuffix[] = " (not connected)";

struct OutputChoice {
  std::int32_t device = 0;
  std::string name;
};

enum class OutputItemKind { Device, NotConnected, VirtualPort, None };

struct OutputItem {
  std::string text;
  OutputItemKind kind;
  OutputChoice choice;
};

// labels: the device labels in device order; keep: the choices to keep listed;
// virtualLabel: the virtual port's item, empty where device -1 is not listed. With no
// outputs at all the list starts with an item that says so and stands for no choice.
std::vector<OutputItem> ListOutputs(std::vector<std::string> labels, const std::vector<OutputChoice>& keep,
                                    const std::string& virtualLabel);

// The item that shows a choice: the one with its name when it has a name; else the
// virtual port for -1, the device with its number, or the line that says there is none.
// -1 when no item shows it (a number past the list, or -1 without a virtual port item).
int OutputItemFor(const std::vector<OutputItem>& items, const OutputChoice& choice);

// The choice of an item; false for no item or one that stands for none, and what is
// stored then stays.
bool ChoiceOfItem(const std::vector<OutputItem>& items, int index, OutputChoice& choice);
