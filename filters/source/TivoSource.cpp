#include "TivoSource.h"

#include "Factories.h"

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <atomic>
#include <string>

#include "base/ComGuard.h"
#include "win32/Scoped.h"
#include "Formats.h"
#include "base/Guids.h"
#include "keys/RecordingKey.h"
#include "PayloadReader.h"
#include "PayloadSources.h"
#include "SampleCourier.h"
#include "SampleFiller.h"
#include "SourcePacing.h"
#include "media/Io.h"
#include "media/ProgramStreamDecryptor.h"
#include "media/TransportStreamDecryptor.h"
#include "media/TivoContainer.h"

namespace korvane::filters {
namespace {

// Our own allocator makes a sample cheap, so the size is set by the multiplexer's
// interleaving instead: a sample holds well under its tolerance (0.7 s) of a broadcast
// stream, so each stream's packets of one sample pass through the writer without waiting
// (and being copied) for the others. (Wine's allocator would want samples of 1 MiB.)
constexpr LONG kSourceBuffers = 4;
constexpr LONG kSourceBufferSize = 256 << 10;
// An encrypted payload is read in pieces of this size and decrypted in place before its clear
// bytes are packed into samples.
constexpr size_t kDecryptReadSize = 256 << 10;

class TivoSource;

// The output offers two kinds of connection. Our demultiplexer gets the stream list type
// first and is pushed samples from the source's thread, the conversion's path. Every other
// filter is offered only the type a file source offers (MEDIATYPE_Stream, the MPEG subtype,
// no format) and pulls the payload through IAsyncReader, as parsers do: the stream list
// means nothing to them, and a parser that accepted it while also pulling would get every
// byte twice.
class SourceOutput final : public OutputPin {
public:
    SourceOutput(TivoSource* source, BaseFilter* filter, std::unique_ptr<media::ByteSource> payload);

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override;
    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override;
    HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) override;
    HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt) override;
    HRESULT CompleteConnect(IPin* peer) override;

    // Connected to one of our filters, which is pushed samples; otherwise the peer pulls.
    bool Pushes() const;

private:
    TivoSource* m_source;
    bool m_readable;  // the payload can be read, so the pin is an IAsyncReader too
    PayloadReader m_reader;
    // Set by Connect while it offers types: whether the receiver is one of our filters.
    std::atomic<bool> m_offerStreamList{true};
};

class TivoSource final : public AlsoImplements<BaseFilter, IFileSourceFilter> {
public:
    TivoSource()
        : AlsoImplements(CLSID_KorvaneTivoSource), m_stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

    // IFileSourceFilter. A file that cannot be opened or read fails here. A file that opens
    // but cannot be converted (not a TiVo container, damaged header, nothing after it, or
    // encrypted with a key nobody gave) loads, and its output pin offers no media type, so
    // connecting the source fails instead: Wine 8's AddSourceFilter leaks the filter when
    // Load fails.
    //
    // The state lock is not held while the file is examined: the key dialog runs a modal
    // loop for as long as its owner takes to answer.
    STDMETHODIMP Load(LPCOLESTR fileName, const AM_MEDIA_TYPE*) override {
        return GuardedCall("TivoSource::Load", [&] { return LoadFile(fileName); });
    }

    HRESULT LoadFile(LPCOLESTR fileName) {
        if (!fileName) return E_POINTER;
        {
            AutoLock lock(StateLock());
            if (m_output) return E_UNEXPECTED;
        }
        ScopedFile file(CreateFileW(fileName, GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file) return HRESULT_FROM_WIN32(GetLastError());
        HandleByteSource source(file.Get());
        media::TivoFile tivo;
        std::string error;
        media::TivoStatus status = media::ParseTivo(source, &tivo, &error);
        bool encrypted = false;
        media::TivoKeys keys;
        if (status == media::TivoStatus::Ok && tivo.scrambled &&
            FindRecordingKeys(source, tivo, fileName, &keys)) {
            status = media::ProbeDecryptedPayload(source, keys, &tivo, &error);
            encrypted = true;
        }
        if (status == media::TivoStatus::ReadFailed) return HRESULT_FROM_WIN32(ERROR_READ_FAULT);
        HRESULT unusable = S_OK;
        if (status != media::TivoStatus::Ok) {
            unusable = VFW_E_INVALID_FILE_FORMAT;
        } else if (tivo.scrambled && !encrypted) {
            unusable = KORVANE_E_ENCRYPTED;
            error = media::kEncryptedPayloadText;
        }
        // A payload without a stream our demultiplexer carries may still play elsewhere:
        // only the stream list is withheld.
        bool listed = false;
        std::unique_ptr<media::ByteSource> payload;
        if (SUCCEEDED(unusable)) {
            listed = SUCCEEDED(DescribeStreams(tivo));
            if (!listed) error = "no elementary streams in the MPEG payload that can be converted";
            HRESULT openFailure = S_OK;
            payload = OpenPayload(fileName, tivo, encrypted, keys, &openFailure);
            if (!payload) error = "the file could not be opened a second time for reading anywhere";
        }
        if (!error.empty()) OutputDebugStringA(("KorvaneFilters: " + error + "\n").c_str());
        if (FAILED(unusable)) file.Reset();
        AutoLock lock(StateLock());
        if (m_output) return E_UNEXPECTED;  // another Load got there while this one asked for the key
        m_file = std::move(file);
        m_unusable = unusable;
        m_streamsListed = listed;
        m_fileName = fileName;
        m_payloadOffset = tivo.payloadOffset;
        m_payloadSize = tivo.payloadSize;
        m_transport = tivo.payloadKind == media::PayloadKind::TransportStream;
        m_encrypted = encrypted;
        m_keys = keys;
        auto pin = std::make_unique<SourceOutput>(this, this, std::move(payload));
        m_output = pin.get();
        AddPin(std::move(pin));
        return S_OK;
    }

    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* mt) override {
        if (!fileName) return E_POINTER;
        *fileName = nullptr;
        AutoLock lock(StateLock());
        if (!m_output) return S_OK;  // nothing loaded: a null name, as Wine's own sources answer
        const size_t bytes = (m_fileName.size() + 1) * sizeof(WCHAR);
        *fileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!*fileName) return E_OUTOFMEMORY;
        CopyMemory(*fileName, m_fileName.c_str(), bytes);
        if (mt && m_output->GetMediaType(0, mt) != S_OK) ZeroMemory(mt, sizeof(*mt));
        return S_OK;
    }

    // The type our demultiplexer connects with: the payload's streams listed.
    HRESULT GetStreamListType(AM_MEDIA_TYPE* mt) {
        if (FAILED(m_unusable)) return m_unusable;
        if (!m_streamsListed) return VFW_E_INVALID_FILE_FORMAT;
        return MakeStreamListType(mt, m_streams, m_transport);
    }

    // The type a file source of the payload would offer.
    HRESULT GetPlainType(AM_MEDIA_TYPE* mt) {
        if (FAILED(m_unusable)) return m_unusable;
        return MakeMediaType(mt, MEDIATYPE_Stream,
                             m_transport ? MEDIASUBTYPE_MPEG2_TRANSPORT : MEDIASUBTYPE_MPEG2_PROGRAM,
                             GUID_NULL, nullptr, 0);
    }

protected:
    HRESULT OnPause(bool fromStopped) override {
        // A parser that pulls through IAsyncReader needs no thread of ours.
        if (!fromStopped || !m_output || !m_output->Pushes() || FAILED(m_unusable)) return S_OK;
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(m_payloadOffset);
        if (!SetFilePointerEx(m_file.Get(), at, nullptr, FILE_BEGIN))
            return HRESULT_FROM_WIN32(GetLastError());
        m_stopping = false;
        ResetEvent(m_stopEvent.Get());
        AutoLock lock(m_threadLock);
        m_thread = ScopedHandle(CreateThread(nullptr, 0, &TivoSource::StreamingThread, this, 0, nullptr));
        return m_thread ? S_OK : HRESULT_FROM_WIN32(GetLastError());
    }

    void OnStop() override { AskThreadToStop(); }

    // The state lock is free here: the thread never takes it, but joining under it would
    // still block every other call on the filter for as long as the thread takes to notice.
    void AfterStop() override { JoinThread(); }

private:
    ~TivoSource() override {
        AskThreadToStop();
        JoinThread();
    }

    // Stopping the streaming thread is these two steps, always in this order: Stop asks under
    // the state lock and joins after releasing it.
    void AskThreadToStop() {
        m_stopping = true;
        SetEvent(m_stopEvent.Get());
    }

    void JoinThread() {
        ScopedHandle thread;
        {
            // Two Stops at once both come here: one of them joins.
            AutoLock lock(m_threadLock);
            thread = std::move(m_thread);
        }
        if (thread) WaitForSingleObject(thread.Get(), INFINITE);
    }

    HRESULT DescribeStreams(const media::TivoFile& tivo) {
        ZeroMemory(&m_streams, sizeof(m_streams));
        m_streams.size = sizeof(m_streams);
        m_streams.payloadSize = tivo.payloadSize;
        for (const auto& s : tivo.probe.streams) {
            if (m_streams.streamCount == kMaxListedStreams) break;
            ListedStream& l = m_streams.streams[m_streams.streamCount++];
            l.streamId = s.key.streamId;
            l.substreamId = s.key.substreamId;
            l.kind = static_cast<uint8_t>(s.kind);
        }
        return m_streams.streamCount ? S_OK : VFW_E_INVALID_FILE_FORMAT;
    }

    // Nothing may leave a thread procedure. A stream that threw ends like one that failed:
    // the error event, then the end of stream, so that the graph still completes.
    static DWORD WINAPI StreamingThread(void* self) {
        auto* source = static_cast<TivoSource*>(self);
        const HRESULT hr = GuardedCall("TivoSource streaming thread", [source] {
            source->Stream();
            return S_OK;
        });
        if (FAILED(hr) && !source->m_stopping) {
            source->NotifyEvent(EC_ERRORABORT, hr, 0);
            source->m_output->DeliverEndOfStream();
        }
        return 0;
    }

    // Test pacing only (KorvaneFiltersSetSourcePacing); wakes early when Stop comes.
    void Pace() {
        DWORD ms = SourcePacingMilliseconds();
        if (ms) WaitForSingleObject(m_stopEvent.Get(), ms);
    }

    void Stream() {
        if (!m_encrypted)
            StreamAsStored();
        else if (m_transport)
            StreamDecrypted<media::TransportStreamDecryptor>();
        else
            StreamDecrypted<media::ProgramStreamDecryptor>();
    }

    // Runs without any lock of ours; Stop decommits the allocator (waking GetBuffer) and
    // sets m_stopping, then joins.
    void StreamAsStored() {
        uint64_t remaining = m_payloadSize;
        HRESULT endResult = S_OK;
        while (!m_stopping) {
            if (remaining == 0) break;
            ComPtr<IMediaSample> sample;
            HRESULT hr = m_output->GetDeliveryBuffer(sample.Out());
            if (FAILED(hr)) return;  // decommitted: we are being stopped
            BYTE* buffer = nullptr;
            hr = sample->GetPointer(&buffer);
            if (FAILED(hr) || !buffer) {
                endResult = FAILED(hr) ? hr : E_POINTER;
                break;
            }
            DWORD want =
                static_cast<DWORD>(std::min<uint64_t>(remaining, static_cast<uint64_t>(sample->GetSize())));
            DWORD got = 0;
            if (!ReadFile(m_file.Get(), buffer, want, &got, nullptr)) {
                endResult = HRESULT_FROM_WIN32(GetLastError());
                break;
            }
            if (got == 0) {  // the file shrank since Load: deliver what there was
                break;
            }
            remaining -= got;
            sample->SetActualDataLength(static_cast<LONG>(got));
            sample->SetSyncPoint(TRUE);
            hr = m_output->Deliver(sample.Get());
            sample.Reset();
            if (hr == S_FALSE) break;  // downstream wants no more; it still needs the end of stream
            if (FAILED(hr)) {
                if (m_stopping || hr == VFW_E_WRONG_STATE || hr == VFW_E_NOT_COMMITTED)
                    return;  // the graph is stopping, downstream first
                endResult = hr;
                break;
            }
            Pace();
        }
        if (m_stopping) return;
        if (FAILED(endResult)) NotifyEvent(EC_ERRORABORT, endResult, 0);
        m_output->DeliverEndOfStream();
    }

    // The same for an encrypted payload: read in pieces, decrypted in place, and only the
    // clear bytes the decryptor passes on are packed into samples. A packet that cannot be
    // decrypted is dropped by the decryptor and counted, never delivered scrambled. A courier
    // thread delivers the filled samples, so decryption and the downstream filters run on
    // both cores. Decryptor: media's ProgramStreamDecryptor or TransportStreamDecryptor, by
    // payload kind.
    template <class Decryptor>
    void StreamDecrypted() {
        media::AlignedBuffer piece(kDecryptReadSize);
        Decryptor decryptor(m_keys);
        SampleCourier courier(m_output, &m_stopping, [this] { Pace(); });
        if (!courier.Start()) {
            NotifyEvent(EC_ERRORABORT, HRESULT_FROM_WIN32(GetLastError()), 0);
            m_output->DeliverEndOfStream();
            return;
        }
        SampleFiller filler(m_output, &courier);
        uint64_t remaining = m_payloadSize;
        HRESULT endResult = S_OK;
        while (!m_stopping && remaining > 0 && filler.Current() == SampleFiller::State::Going) {
            DWORD want = static_cast<DWORD>(std::min<uint64_t>(remaining, piece.Size()));
            DWORD got = 0;
            if (!ReadFile(m_file.Get(), piece.Data(), want, &got, nullptr)) {
                endResult = HRESULT_FROM_WIN32(GetLastError());
                break;
            }
            if (got == 0) break;  // the file shrank since Load: deliver what there was
            remaining -= got;
            if (!decryptor.Feed(piece.Data(), got, filler) &&
                filler.Current() == SampleFiller::State::Going) {
                endResult = E_FAIL;  // the hash library failed: nothing more can be decrypted
                break;
            }
        }
        if (SUCCEEDED(endResult) && !m_stopping && filler.Current() == SampleFiller::State::Going) {
            decryptor.Finish(filler);
            filler.Flush();
        }
        courier.Finish();
        SampleCourier::State delivery = courier.Current();
        if (m_stopping || filler.Current() == SampleFiller::State::Stopped ||
            delivery == SampleCourier::State::Stopped)
            return;
        if (filler.Current() == SampleFiller::State::Failed) endResult = filler.Error();
        if (delivery == SampleCourier::State::Failed) endResult = courier.Error();
        ReportDamage(decryptor.Stats());
        if (FAILED(endResult)) NotifyEvent(EC_ERRORABORT, endResult, 0);
        m_output->DeliverEndOfStream();
    }

    // Damage does not stop a conversion (a recording with a bad stretch still converts);
    // it is counted and told to a debugger.
    void ReportDamage(const media::DecryptStats& stats) {
        if (stats.DamageCount() == 0) return;
        char text[200];
        wsprintfA(text, "KorvaneFilters: %lu packets dropped undecryptable, %lu damaged stretches skipped\n",
                  static_cast<unsigned long>(stats.packetsDropped),
                  static_cast<unsigned long>(stats.damageEvents + stats.truncatedUnits));
        OutputDebugStringA(text);
    }

    friend class SourceOutput;
    SourceOutput* m_output = nullptr;  // made by Load
    ScopedFile m_file;                 // Load; read only by the streaming thread
    std::wstring m_fileName;
    uint64_t m_payloadOffset = 0;
    uint64_t m_payloadSize = 0;
    bool m_transport = false;
    bool m_encrypted = false;      // Load: the payload is decrypted with m_keys
    media::TivoKeys m_keys;        // Load; read only by the streaming thread
    HRESULT m_unusable = S_OK;     // why a loaded file cannot be delivered
    bool m_streamsListed = false;  // our demultiplexer can carry its streams
    StreamListFormat m_streams{};
    CriticalSection m_threadLock;         // guards m_thread between Pause and Stop's join
    ScopedHandle m_thread;                // started by Pause, joined by Stop
    std::atomic<bool> m_stopping{false};  // set by Stop, read by the streaming thread
    ScopedHandle m_stopEvent;             // set by Stop: ends a test pacing wait at once
};

SourceOutput::SourceOutput(TivoSource* source, BaseFilter* filter, std::unique_ptr<media::ByteSource> payload)
    : OutputPin(filter, L"Output", kSourceBuffers, kSourceBufferSize),
      m_source(source),
      m_readable(payload != nullptr),
      m_reader(static_cast<IPin*>(this), std::move(payload)) {}

STDMETHODIMP SourceOutput::QueryInterface(REFIID iid, void** out) {
    if (out && m_readable && IsEqualIID(iid, IID_IAsyncReader)) {
        *out = static_cast<IAsyncReader*>(&m_reader);
        AddRef();
        return S_OK;
    }
    return OutputPin::QueryInterface(iid, out);
}

namespace {

bool IsStreamListType(const AM_MEDIA_TYPE* mt) {
    return mt && IsEqualGUID(mt->formattype, FORMAT_KorvaneStreamList);
}

}  // namespace

STDMETHODIMP SourceOutput::Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) {
    // The graph serialises connections, so the flag belongs to this one call.
    m_offerStreamList = FilterOfOurs(receivePin) != nullptr;
    const HRESULT hr = OutputPin::Connect(receivePin, mt);
    m_offerStreamList = true;
    return hr;
}

HRESULT SourceOutput::CheckMediaType(const AM_MEDIA_TYPE* mt) {
    MediaType candidate;
    if (IsStreamListType(mt)) {
        if (!m_offerStreamList || FAILED(m_source->GetStreamListType(candidate.Get()))) return S_FALSE;
        return MediaTypesEqual(mt, candidate.Get()) ? S_OK : S_FALSE;
    }
    if (!m_readable || FAILED(m_source->GetPlainType(candidate.Get()))) return S_FALSE;
    const bool noFormat = IsEqualGUID(mt->formattype, GUID_NULL) || IsEqualGUID(mt->formattype, FORMAT_None);
    return IsEqualGUID(mt->majortype, MEDIATYPE_Stream) &&
                   IsEqualGUID(mt->subtype, candidate.Get()->subtype) && noFormat
               ? S_OK
               : S_FALSE;
}

HRESULT SourceOutput::GetMediaType(int index, AM_MEDIA_TYPE* mt) {
    if (index < 0) return E_INVALIDARG;
    MediaType listType;
    const bool listed = m_offerStreamList && SUCCEEDED(m_source->GetStreamListType(listType.Get()));
    if (listed && index == 0) return m_source->GetStreamListType(mt);
    if (listed) --index;
    if (index != 0 || !m_readable) return VFW_S_NO_MORE_ITEMS;
    return m_source->GetPlainType(mt);
}

HRESULT SourceOutput::CompleteConnect(IPin* peer) {
    // Pulled: the peer reads through IAsyncReader and needs no allocator of ours.
    return IsStreamListType(ConnectedType()) ? OutputPin::CompleteConnect(peer) : S_OK;
}

bool SourceOutput::Pushes() const {
    return IsConnected() && IsStreamListType(ConnectedType());
}

}  // namespace

HRESULT CreateTivoSource(IUnknown* outer, REFIID iid, void** out) {
    return CreateFilter<TivoSource>(outer, iid, out);
}

}  // namespace korvane::filters
