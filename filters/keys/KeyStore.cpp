#include "KeyStore.h"

#include <wincrypt.h>

#include <algorithm>
#include <memory>

#include "MediaAccessKeyText.h"
#include "win32/Scoped.h"
#include "win32/SystemLibrary.h"

namespace korvane::filters {

const wchar_t kKeyStorePath[] = L"Software\\Halvenor\\Korvane Filters\\Media Access Keys";

namespace {

const wchar_t kValuePrefix[] = L"Key ";
const wchar_t kBlobDescription[] = L"Korvane Media Access Key";
// Mixed into the seal so a blob of another program of this user does not unseal as one of
// ours, nor ours as theirs.
const char kEntropy[] = "Korvane Filters: TiVo Media Access Key";

struct LocalFreer {
    void operator()(void* p) const { LocalFree(p); }
};
using LocalMemory = std::unique_ptr<BYTE, LocalFreer>;

// DPAPI, bound on the first key stored or read (see win32/SystemLibrary.h).
struct Dpapi {
    decltype(&::CryptProtectData) protect;
    decltype(&::CryptUnprotectData) unprotect;
};

const Dpapi& Functions() {
    static const SystemLibrary crypt32(L"crypt32.dll");
    static const Dpapi dpapi{crypt32.Find<decltype(&::CryptProtectData)>("CryptProtectData"),
                             crypt32.Find<decltype(&::CryptUnprotectData)>("CryptUnprotectData")};
    return dpapi;
}

DATA_BLOB Blob(const void* data, size_t size) {
    DATA_BLOB blob;
    blob.cbData = static_cast<DWORD>(size);
    blob.pbData = static_cast<BYTE*>(const_cast<void*>(data));
    return blob;
}

bool Seal(const std::string& digits, std::vector<BYTE>* sealed) {
    DATA_BLOB in = Blob(digits.data(), digits.size());
    DATA_BLOB entropy = Blob(kEntropy, sizeof(kEntropy) - 1);
    DATA_BLOB out{};
    const Dpapi& dpapi = Functions();
    if (!dpapi.protect) return false;
    if (!dpapi.protect(&in, kBlobDescription, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return false;
    LocalMemory owned(out.pbData);
    sealed->assign(out.pbData, out.pbData + out.cbData);
    return true;
}

bool Unseal(const std::vector<BYTE>& sealed, std::string* digits) {
    DATA_BLOB in = Blob(sealed.data(), sealed.size());
    DATA_BLOB entropy = Blob(kEntropy, sizeof(kEntropy) - 1);
    DATA_BLOB out{};
    const Dpapi& dpapi = Functions();
    if (!dpapi.unprotect) return false;
    if (!dpapi.unprotect(&in, nullptr, &entropy, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return false;
    LocalMemory owned(out.pbData);
    std::string text(reinterpret_cast<const char*>(out.pbData), out.cbData);
    SecureZeroMemory(out.pbData, out.cbData);
    std::string checked;
    if (!ParseMediaAccessKey(std::wstring(text.begin(), text.end()), &checked) || checked != text)
        return false;
    *digits = checked;
    return true;
}

struct StoredValue {
    std::wstring name;
    std::string digits;
};

// Every value of ours that unseals, in the order of the numbers in their names.
std::vector<StoredValue> ReadValues(HKEY key) {
    std::vector<std::pair<unsigned long, StoredValue>> found;
    for (DWORD index = 0;; ++index) {
        wchar_t name[64];
        DWORD nameLength = 64;
        DWORD type = 0;
        DWORD size = 0;
        LONG rc = RegEnumValueW(key, index, name, &nameLength, nullptr, &type, nullptr, &size);
        // A name too long for the buffer is not ours; any other failure (the key deleted under
        // us, say) would repeat at every index, so it ends the enumeration.
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS) break;
        if (type != REG_BINARY || wcsncmp(name, kValuePrefix, 4) != 0 || size > 4096) continue;
        std::vector<BYTE> sealed(size);
        if (RegQueryValueExW(key, name, nullptr, &type, sealed.data(), &size) != ERROR_SUCCESS) continue;
        sealed.resize(size);
        StoredValue value{name, {}};
        if (Unseal(sealed, &value.digits))
            found.emplace_back(wcstoul(name + 4, nullptr, 10), std::move(value));
    }
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<StoredValue> values;
    for (auto& f : found)
        values.push_back(std::move(f.second));
    return values;
}

bool ValueExists(HKEY key, const std::wstring& name) {
    return RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

// Held while a key is stored: finding a free value name and writing it is one step, so two
// processes of this user storing different keys at once cannot both take "Key n". The mutex
// lives in the session's namespace, as the processes sharing this user's registry do.
class StoreLock {
public:
    StoreLock() : m_mutex(CreateMutexW(nullptr, FALSE, L"Local\\Korvane Filters Media Access Keys")) {
        if (!m_mutex) return;
        const DWORD waited = WaitForSingleObject(m_mutex.Get(), 10000);
        // An owner that died while holding it left the store as consistent as any crash does.
        m_held = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
    }
    ~StoreLock() {
        if (m_held) ReleaseMutex(m_mutex.Get());
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;
    bool Held() const { return m_held; }

private:
    ScopedHandle m_mutex;
    bool m_held = false;
};

}  // namespace

std::vector<std::string> KeysIn(HKEY key) {
    std::vector<std::string> keys;
    for (auto& value : ReadValues(key))
        keys.push_back(std::move(value.digits));
    return keys;
}

std::vector<std::string> StoredKeys() {
    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKeyStorePath, 0, KEY_QUERY_VALUE, key.Out()) != ERROR_SUCCESS)
        return {};
    return KeysIn(key.Get());
}

HRESULT RememberKey(const std::string& digits) {
    std::string checked;
    if (!ParseMediaAccessKey(std::wstring(digits.begin(), digits.end()), &checked) || checked != digits)
        return E_INVALIDARG;
    StoreLock lock;
    if (!lock.Held()) return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    ScopedRegKey key;
    LONG rc = RegCreateKeyExW(HKEY_CURRENT_USER, kKeyStorePath, 0, nullptr, 0,
                              KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, key.Out(), nullptr);
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    for (const auto& value : ReadValues(key.Get()))
        if (value.digits == digits) return S_FALSE;
    std::vector<BYTE> sealed;
    if (!Seal(digits, &sealed)) {
        // A crypt32 that would not load, or DPAPI failing without a reason, must still fail.
        const DWORD error = GetLastError();
        return error ? HRESULT_FROM_WIN32(error) : E_FAIL;
    }
    // A name no value has, readable or not: an unreadable value may be another user's key.
    std::wstring name;
    for (unsigned n = 1;; ++n) {
        name = kValuePrefix + std::to_wstring(n);
        if (!ValueExists(key.Get(), name)) break;
    }
    rc = RegSetValueExW(key.Get(), name.c_str(), 0, REG_BINARY, sealed.data(),
                        static_cast<DWORD>(sealed.size()));
    return HRESULT_FROM_WIN32(rc);
}

HRESULT ForgetKey(const std::string& digits) {
    ScopedRegKey key;
    LONG rc = RegOpenKeyExW(HKEY_CURRENT_USER, kKeyStorePath, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, key.Out());
    if (rc == ERROR_FILE_NOT_FOUND) return S_FALSE;
    if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
    HRESULT result = S_FALSE;
    for (const auto& value : ReadValues(key.Get())) {
        if (value.digits != digits) continue;
        rc = RegDeleteValueW(key.Get(), value.name.c_str());
        if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
        result = S_OK;
    }
    return result;
}

}  // namespace korvane::filters
