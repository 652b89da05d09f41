#include "settings/ProfileStore.h"

#include <atomic>

#include "settings/BuildConfig.h"

namespace {

std::atomic<ProfileStore*> g_installedStore{nullptr};

}  // namespace

ProfileStore::ProfileStore(std::string company, std::string application)
    : m_strCompany(std::move(company)), m_strApplication(std::move(application)) {}

ProfileStore& CurrentProfileStore() {
  ProfileStore* store = g_installedStore.load(std::memory_order_acquire);
  if (store) return *store;
  static ProfileStore s_defaultStore(kCompanyKey, kAppTitle);
  return s_defaultStore;
}

ProfileStore* InstallProfileStore(ProfileStore* store) {
  return g_installedStore.exchange(store, std::memory_order_acq_rel);
}

std::string ReadDownloadUrl() {
  return CurrentProfileStore().ReadProfileString(kSettingsSection, "DownloadURL",
                                                kDefaultDownloadUrl);
}
