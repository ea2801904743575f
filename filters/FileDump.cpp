#include "FileDump.h"

#include "Factories.h"

#include <evcode.h>
#include <vfwmsgs.h>

#include "ComGuard.h"
#include "Guids.h"

namespace korvane::filters {
namespace {

class FileDump;

class DumpInput final : public InputPin {
public:
    DumpInput(BaseFilter* filter, FileDump* dump) : InputPin(filter, L"Input"), dump_(dump) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE*) override { return S_OK; }  // a dump takes anything
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;

private:
    FileDump* dump_;
};

// Stream state (file_, running_, failed_, complete*_) is written under the stream lock:
// by the streaming thread in Receive/EndOfStream, and by Pause/Run/Stop on the graph's
// thread, which take the stream lock inside the state lock.
class FileDump final : public BaseFilter, public IFileSinkFilter, public IAMFilterMiscFlags {
public:
    FileDump() : BaseFilter(CLSID_KorvaneFileDump) {
        auto pin = std::make_unique<DumpInput>(this, this);
        input_ = pin.get();
        AddPin(std::move(pin));
    }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override { return BaseFilter::QueryInterface(iid, out); }
    STDMETHODIMP_(ULONG) AddRef() override { return BaseFilter::AddRef(); }
    STDMETHODIMP_(ULONG) Release() override { return BaseFilter::Release(); }

    HRESULT QueryExtraInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IFileSinkFilter)) {
            *out = static_cast<IFileSinkFilter*>(this);
        } else if (IsEqualIID(iid, IID_IAMFilterMiscFlags)) {
            *out = static_cast<IAMFilterMiscFlags*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }

    // IFileSinkFilter
    STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
        if (!name)
            return E_POINTER;
        return GuardedCall("FileDump::SetFileName", [&]() -> HRESULT {
            AutoLock lock(StateLock());
            fileName_ = name;  // copies: may run out of memory
            return S_OK;
        });
    }

    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) override {
        if (!name)
            return E_POINTER;
        *name = nullptr;
        AutoLock lock(StateLock());
        if (mt) {
            ZeroMemory(mt, sizeof(*mt));
            if (input_->IsConnected())
                CopyMediaType(mt, input_->ConnectedType());
        }
        if (fileName_.empty())
            return E_FAIL;
        const size_t bytes = (fileName_.size() + 1) * sizeof(WCHAR);
        *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!*name)
            return E_OUTOFMEMORY;
        CopyMemory(*name, fileName_.c_str(), bytes);
        return S_OK;
    }

    bool ConsumesSamplesInReceive() const override { return true; }  // written before Receive returns

    // IAMFilterMiscFlags: Wine's graph counts renderers by this flag, and completes
    // WaitForCompletion only when every renderer has sent EC_COMPLETE.
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    HRESULT Write(IMediaSample* sample) {
        if (failed_ || file_ == INVALID_HANDLE_VALUE)
            return S_FALSE;
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr))
            return hr;
        LONG size = sample->GetActualDataLength();
        while (size > 0) {
            DWORD written = 0;
            if (!WriteFile(file_, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
                Fail(HRESULT_FROM_WIN32(written == 0 && GetLastError() == ERROR_SUCCESS ? ERROR_DISK_FULL
                                                                                         : GetLastError()));
                return S_FALSE;
            }
            data += written;
            size -= static_cast<LONG>(written);
        }
        return S_OK;
    }

    HRESULT EndOfStream() {
        if (file_ != INVALID_HANDLE_VALUE) {
            HANDLE file = file_;
            file_ = INVALID_HANDLE_VALUE;
            if (!CloseHandle(file))
                Fail(HRESULT_FROM_WIN32(GetLastError()));
        }
        Complete();
        return S_OK;
    }

protected:
    HRESULT OnPause(bool fromStopped) override {
        AutoLock stream(StreamLock());
        running_ = false;
        if (fromStopped) {
            failed_ = false;
            completeSent_ = false;
            completePending_ = false;
            // Created (or truncated) now, so a graph that never pauses leaves no file behind.
            if (fileName_.empty()) {
                Fail(E_UNEXPECTED);
            } else {
                file_ = CreateOutputFile(fileName_.c_str());
                if (file_ == INVALID_HANDLE_VALUE)
                    Fail(HRESULT_FROM_WIN32(GetLastError()));
            }
        }
        return S_OK;
    }

    HRESULT OnRun(REFERENCE_TIME) override {
        AutoLock stream(StreamLock());
        running_ = true;
        if (completePending_)
            Complete();
        return S_OK;
    }

    void OnStop() override {
        AutoLock stream(StreamLock());
        running_ = false;
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
        }
    }

private:
    // An existing file is replaced by a new one rather than truncated in place. Measured
    // under Wine on ext4: a file opened with CREATE_ALWAYS (O_TRUNC), even one that did not
    // exist before, took 0.4-0.6 s to close after 1 GB had been written (the filesystem
    // flushes truncated files on close); one made with CREATE_NEW closes at once. When the
    // old file cannot be removed (locked, read-only), truncating it meets the same failure
    // a replacement would.
    static HANDLE CreateOutputFile(const wchar_t* name) {
        const DWORD flags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN;
        DeleteFileW(name);
        HANDLE file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW, flags, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS)
            file = CreateFileW(name, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, flags, nullptr);
        return file;
    }

    ~FileDump() override {
        if (file_ != INVALID_HANDLE_VALUE)
            CloseHandle(file_);
    }

    // The error stays in the graph's event queue for the application; the graph must still
    // complete, because Wine's WaitForCompletion waits for EC_COMPLETE from every renderer.
    void Fail(HRESULT hr) {
        if (file_ != INVALID_HANDLE_VALUE) {
            CloseHandle(file_);
            file_ = INVALID_HANDLE_VALUE;
        }
        if (failed_)
            return;
        failed_ = true;
        QueueEvent(EC_ERRORABORT, hr, 0);
        Complete();
    }

    void Complete() {
        if (completeSent_)
            return;
        if (running_) {
            completeSent_ = true;
            completePending_ = false;
            QueueEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
        } else {
            completePending_ = true;
        }
    }

    DumpInput* input_;
    std::wstring fileName_;                 // state lock
    HANDLE file_ = INVALID_HANDLE_VALUE;    // stream lock
    bool running_ = false;                  // stream lock: EC_COMPLETE may be sent
    bool failed_ = false;                   // stream lock: the file is gone, refuse the rest
    bool completePending_ = false;          // stream lock: EC_COMPLETE due at the next Run
    bool completeSent_ = false;             // stream lock
};

HRESULT DumpInput::OnReceive(IMediaSample* sample) { return dump_->Write(sample); }
HRESULT DumpInput::OnEndOfStream() { return dump_->EndOfStream(); }

}  // namespace

HRESULT CreateFileDump(IUnknown* outer, REFIID iid, void** out) { return CreateFilter<FileDump>(outer, iid, out); }

}  // namespace korvane::filters
