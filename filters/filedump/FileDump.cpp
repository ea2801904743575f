#include "FileDump.h"

#include "Factories.h"

#include <evcode.h>
#include <vfwmsgs.h>

#include "base/ComGuard.h"
#include "win32/Scoped.h"
#include "base/Guids.h"

namespace korvane::filters {
namespace {

class FileDump;

class DumpInput final : public InputPin {
public:
    DumpInput(BaseFilter* filter, FileDump* dump) : InputPin(filter, L"Input"), m_dump(dump) {}
    HRESULT CheckMediaType(const AM_MEDIA_TYPE*) override { return S_OK; }  // a dump takes anything
    HRESULT OnReceive(IMediaSample* sample) override;
    HRESULT OnEndOfStream() override;

private:
    FileDump* m_dump;
};

// Stream state (m_file, m_running, m_failed, complete*_) is written under the stream lock:
// by the streaming thread in Receive/EndOfStream, and by Pause/Run/Stop on the graph's
// thread, which take the stream lock inside the state lock.
class FileDump final : public AlsoImplements<BaseFilter, IFileSinkFilter, IAMFilterMiscFlags> {
public:
    FileDump() : AlsoImplements(CLSID_KorvaneFileDump) {
        auto pin = std::make_unique<DumpInput>(this, this);
        m_input = pin.get();
        AddPin(std::move(pin));
    }

    // IFileSinkFilter
    STDMETHODIMP SetFileName(LPCOLESTR name, const AM_MEDIA_TYPE*) override {
        if (!name) return E_POINTER;
        return GuardedCall("FileDump::SetFileName", [&]() -> HRESULT {
            AutoLock lock(StateLock());
            m_fileName = name;  // copies: may run out of memory
            return S_OK;
        });
    }

    STDMETHODIMP GetCurFile(LPOLESTR* name, AM_MEDIA_TYPE* mt) override {
        if (!name) return E_POINTER;
        *name = nullptr;
        AutoLock lock(StateLock());
        if (mt) {
            ZeroMemory(mt, sizeof(*mt));
            if (m_input->IsConnected()) CopyMediaType(mt, m_input->ConnectedType());
        }
        if (m_fileName.empty()) return E_FAIL;
        const size_t bytes = (m_fileName.size() + 1) * sizeof(WCHAR);
        *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!*name) return E_OUTOFMEMORY;
        CopyMemory(*name, m_fileName.c_str(), bytes);
        return S_OK;
    }

    bool ConsumesSamplesInReceive() const override { return true; }  // written before Receive returns

    // IAMFilterMiscFlags: Wine's graph counts renderers by this flag, and completes
    // WaitForCompletion only when every renderer has sent EC_COMPLETE.
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    HRESULT Write(IMediaSample* sample) {
        if (m_failed || !m_file) return S_FALSE;
        BYTE* data = nullptr;
        HRESULT hr = sample->GetPointer(&data);
        if (FAILED(hr)) return hr;
        LONG size = sample->GetActualDataLength();
        while (size > 0) {
            DWORD written = 0;
            if (!WriteFile(m_file.Get(), data, static_cast<DWORD>(size), &written, nullptr) || written == 0) {
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
        // Closed here rather than at Stop, so that a failure to flush the last bytes is reported.
        if (m_file && !CloseHandle(m_file.Release())) Fail(HRESULT_FROM_WIN32(GetLastError()));
        Complete();
        return S_OK;
    }

protected:
    HRESULT OnPause(bool fromStopped) override {
        AutoLock stream(StreamLock());
        m_running = false;
        if (fromStopped) {
            m_failed = false;
            m_completeSent = false;
            m_completePending = false;
            // Created (or truncated) now, so a graph that never pauses leaves no file behind.
            if (m_fileName.empty()) {
                Fail(E_UNEXPECTED);
            } else {
                m_file = ScopedFile(CreateOutputFile(m_fileName.c_str()));
                if (!m_file) Fail(HRESULT_FROM_WIN32(GetLastError()));
            }
        }
        return S_OK;
    }

    HRESULT OnRun(REFERENCE_TIME) override {
        AutoLock stream(StreamLock());
        m_running = true;
        if (m_completePending) Complete();
        return S_OK;
    }

    void OnStop() override {
        AutoLock stream(StreamLock());
        m_running = false;
        m_file.Reset();
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

    // The error stays in the graph's event queue for the application; the graph must still
    // complete, because Wine's WaitForCompletion waits for EC_COMPLETE from every renderer.
    void Fail(HRESULT hr) {
        m_file.Reset();
        if (m_failed) return;
        m_failed = true;
        QueueEvent(EC_ERRORABORT, hr, 0);
        Complete();
    }

    void Complete() {
        if (m_completeSent) return;
        if (m_running) {
            m_completeSent = true;
            m_completePending = false;
            QueueEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
        } else {
            m_completePending = true;
        }
    }

    DumpInput* m_input;
    std::wstring m_fileName;         // state lock
    ScopedFile m_file;               // stream lock
    bool m_running = false;          // stream lock: EC_COMPLETE may be sent
    bool m_failed = false;           // stream lock: the file is gone, refuse the rest
    bool m_completePending = false;  // stream lock: EC_COMPLETE due at the next Run
    bool m_completeSent = false;     // stream lock
};

HRESULT DumpInput::OnReceive(IMediaSample* sample) {
    return m_dump->Write(sample);
}
HRESULT DumpInput::OnEndOfStream() {
    return m_dump->EndOfStream();
}

}  // namespace

HRESULT CreateFileDump(IUnknown* outer, REFIID iid, void** out) {
    return CreateFilter<FileDump>(outer, iid, out);
}

}  // namespace korvane::filters
