#include "settings/ProfileStore.h"

// The profile on Linux and other POSIX systems: an INI file under the user's
// configuration folder, through QSettings.
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <limits>

namespace {

QString ToQt(const std::string& text) { return QString::fromStdString(text); }

// The key path of one value: the section is a group (a subkey in the registry).
QString Key(const std::string& section, const std::string& entry) {
  return ToQt(section) + QLatin1Char('/') + ToQt(entry);
}

// A 32-bit value, signed or unsigned, as the signed 32-bit integer that holds its bits.
bool FitIn32Bits(qlonglong value, std::int32_t& result) {
  if (value < std::numeric_limits<std::int32_t>::min() ||
      value > static_cast<qlonglong>(std::numeric_limits<std::uint32_t>::max())) {
    return false;
  }
  result = static_cast<std::int32_t>(static_cast<std::uint32_t>(value & 0xFFFFFFFF));
  return true;
}

// The registry gives DWORD values as 32-bit integers and QWORD values as 64-bit ones,
// which do not fit the 4 bytes of an integer setting. The Linux file gives text, which
// must be a whole decimal number (or a 0x-prefixed hexadecimal one, as hand-entered
// registry values often are).
bool IntegerValue(const QVariant& stored, std::int32_t& result) {
  switch (stored.typeId()) {
    case QMetaType::Int:
      result = stored.toInt();
      return true;
    case QMetaType::UInt:
      result = static_cast<std::int32_t>(stored.toUInt());
      return true;
    case QMetaType::QString:
    case QMetaType::QByteArray: {
      const QString text = stored.toString().trimmed();
      bool ok = false;
      const qlonglong value = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                                  ? text.mid(2).toLongLong(&ok, 16)
                                  : text.toLongLong(&ok, 10);
      return ok && FitIn32Bits(value, result);
    }
    default:
      return false;
  }
}

// Writes are checked by pushing them to the disk at once; QSettings reports a failed
// push only through its status.
bool Flush(QSettings& settings) {
  settings.sync();
  return settings.status() == QSettings::NoError;
}

}  // namespace

std::int32_t ProfileStore::ReadProfileInt(const std::string& section, const std::string& entry,
                                         std::int32_t nDefault) const {
  const QSettings settings(ToQt(m_strCompany), ToQt(m_strApplication));
  const QVariant stored = settings.value(Key(section, entry));
  std::int32_t value = 0;
  return stored.isValid() && IntegerValue(stored, value) ? value : nDefault;
}

std::string ProfileStore::ReadProfileString(const std::string& section, const std::string& entry,
                                           const std::string& strDefault) const {
  const QSettings settings(ToQt(m_strCompany), ToQt(m_strApplication));
  const QVariant stored = settings.value(Key(section, entry));
  if (!stored.isValid()) return strDefault;
  // The Linux file reads an unquoted text with commas as a list; give it back whole.
  if (stored.typeId() == QMetaType::QStringList) {
    return stored.toStringList().join(QLatin1String(", ")).toStdString();
  }
  return stored.toString().toStdString();
}

bool ProfileStore::StoreProfileInt(const std::string& section, const std::string& entry,
                                   std::int32_t nValue) {
  QSettings settings(ToQt(m_strCompany), ToQt(m_strApplication));
  settings.setValue(Key(section, entry), static_cast<int>(nValue));
  return Flush(settings);
}

bool ProfileStore::StoreProfileString(const std::string& section, const std::string& entry,
                                      const std::string& strValue) {
  QSettings settings(ToQt(m_strCompany), ToQt(m_strApplication));
  settings.setValue(Key(section, entry), ToQt(strValue));
  return Flush(settings);
}

bool ProfileStore::DeleteSection(const std::string& section) {
  QSettings settings(ToQt(m_strCompany), ToQt(m_strApplication));
  settings.remove(ToQt(section));
  return Flush(settings);
}

std::string ProfileStore::Location() const {
  const QSettings settings(ToQt(m_strCompany), ToQt(m_strApplication));
  return settings.fileName().toStdString();
}
