// Minimal DirectShow filters that misbehave on purpose, for the engine's tests. Just enough
// of IBaseFilter, IPin and the enumerators for Wine's filter graph manager: no samples flow.
#include "ComObject.h"
#include "TestFilterIds.h"

#include <initguid.h>
#include <strmif.h>
#include <control.h>
#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <atomic>
#include <cstring>
#include <string>
#include <vector>

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};
HMODULE thisModule = nullptr;

namespace {

// {36A5F770-FE4C-11CE-A8ED-00AA002FEAB5}
const CLSID kFileDumpClass = {0x36A5F770, 0xFE4C, 0x11CE, {0xA8, 0xED, 0x00, 0xAA, 0x00, 0x2F, 0xEA, 0xB5}};

AM_MEDIA_TYPE* CopyMediaType(const AM_MEDIA_TYPE& source) {
    auto* copy = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!copy) return nullptr;
    *copy = source;
    copy->pUnk = nullptr;
    copy->cbFormat = 0;
    copy->pbFormat = nullptr;
    return copy;
}

AM_MEDIA_TYPE StreamType(const GUID& subtype) {
    AM_MEDIA_TYPE type = {};
    type.majortype = MEDIATYPE_Stream;
    type.subtype = subtype;
    type.bFixedSizeSamples = TRUE;
    type.lSampleSize = 1;
    type.formattype = FORMAT_None;
    return type;
}

// A named event the test may have made; null when it has not.
class OpenedEvent {
public:
    explicit OpenedEvent(const char* what)
        : m_handle(OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, StandInEventName(what).c_str())) {}
    ~OpenedEvent() {
        if (m_handle) CloseHandle(m_handle);
    }
    OpenedEvent(const OpenedEvent&) = delete;
    OpenedEvent& operator=(const OpenedEvent&) = delete;
    HANDLE Get() const { return m_handle; }
    void Set() const {
        if (m_handle) SetEvent(m_handle);
    }

private:
    HANDLE m_handle;
};

enum class Acceptance { All, None, SFalse, OnlyA, OnlyB };

struct DumpSettings {
    DWORD createFails = 0, noSink = 0, nameFails = 0, refuseInput = 0, joinFails = 0;
    DWORD chunks = 0, chunkBytes = 0, intervalMs = 0, errorHr = 0, neverComplete = 0, stepped = 0,
          stillPlaying = 0;

    static DumpSettings Read() {
        DumpSettings s;
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kStandInDumpKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return s;
        auto read = [key](const char* name, DWORD& value) {
            DWORD size = sizeof value;
            DWORD type = 0;
            DWORD data = 0;
            if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) ==
                    ERROR_SUCCESS &&
                type == REG_DWORD)
                value = data;
        };
        read("createFails", s.createFails);
        read("noSink", s.noSink);
        read("nameFails", s.nameFails);
        read("refuseInput", s.refuseInput);
        read("joinFails", s.joinFails);
        read("chunks", s.chunks);
        read("chunkBytes", s.chunkBytes);
        read("intervalMs", s.intervalMs);
        read("errorHr", s.errorHr);
        read("neverComplete", s.neverComplete);
        read("stepped", s.stepped);
        read("stillPlaying", s.stillPlaying);
        RegCloseKey(key);
        return s;
    }
};

class TestFilter;

class MediaTypeEnum final : public ComObject<IEnumMediaTypes> {
public:
    explicit MediaTypeEnum(std::vector<AM_MEDIA_TYPE> types, size_t position = 0, bool handsOutNull = false)
        : m_types(std::move(types)), m_position(position), m_handsOutNull(handsOutNull) {}
    void* Find(REFIID iid) override {
        return iid == IID_IEnumMediaTypes ? static_cast<IEnumMediaTypes*>(this) : nullptr;
    }
    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        ULONG n = 0;
        while (n < count && m_position < m_types.size()) {
            types[n++] = m_handsOutNull ? nullptr : CopyMediaType(m_types[m_position]);
            ++m_position;
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        m_position += count;
        return m_position <= m_types.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumMediaTypes** out) override {
        *out = new MediaTypeEnum(m_types, m_position, m_handsOutNull);
        return S_OK;
    }

private:
    std::vector<AM_MEDIA_TYPE> m_types;
    size_t m_position;
    bool m_handsOutNull;
};

class TestPin final : public IPin {
public:
    TestPin(TestFilter* filter, PIN_DIRECTION direction, std::wstring name, Acceptance acceptance,
            std::vector<AM_MEDIA_TYPE> offered)
        : m_filter(filter),
          m_direction(direction),
          m_name(std::move(name)),
          m_acceptance(acceptance),
          m_offered(std::move(offered)) {
        ++liveObjects;
    }
    ~TestPin() {
        if (m_peer) m_peer->Release();
        --liveObjects;
    }

    bool Connected() const { return m_peer != nullptr; }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IPin) {
            *out = static_cast<IPin*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Pins live exactly as long as their filter.
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* type) override {
        if (!receivePin) return E_POINTER;
        if (m_direction != PINDIR_OUTPUT) return E_UNEXPECTED;
        if (m_peer) return VFW_E_ALREADY_CONNECTED;
        for (const AM_MEDIA_TYPE& offered : m_offered) {
            if (type && type->majortype != GUID_NULL && type->majortype != offered.majortype) continue;
            if (type && type->subtype != GUID_NULL && type->subtype != offered.subtype) continue;
            if (m_lies) return S_OK;
            if (SUCCEEDED(receivePin->ReceiveConnection(this, &offered))) {
                m_peer = receivePin;
                m_peer->AddRef();
                m_type = offered;
                return S_OK;
            }
        }
        return VFW_E_NO_ACCEPTABLE_TYPES;
    }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP Disconnect() override {
        if (!m_peer) return S_FALSE;
        m_peer->Release();
        m_peer = nullptr;
        return S_OK;
    }
    STDMETHODIMP ConnectedTo(IPin** pin) override {
        if (!pin) return E_POINTER;
        *pin = m_peer;
        if (!m_peer) return VFW_E_NOT_CONNECTED;
        m_peer->AddRef();
        return S_OK;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override {
        if (!m_peer) return VFW_E_NOT_CONNECTED;
        *type = m_type;
        type->pUnk = nullptr;
        type->cbFormat = 0;
        type->pbFormat = nullptr;
        return S_OK;
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
        if (m_directionFails) return E_FAIL;  // and leaves *direction as it was
        *direction = m_direction;
        return S_OK;
    }
    void FailDirection() { m_directionFails = true; }
    void LieAboutConnecting() { m_lies = true; }
    void HandOutNullTypes() { m_nullTypes = true; }
    STDMETHODIMP QueryId(LPWSTR* id) override {
        const size_t bytes = (m_name.size() + 1) * sizeof(wchar_t);
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!*id) return E_OUTOFMEMORY;
        std::memcpy(*id, m_name.c_str(), bytes);
        return S_OK;
    }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override {
        m_lastOfferedSubtype = type->subtype;  // as every real pin, it reads what it is offered
        switch (m_acceptance) {
        case Acceptance::All:
            return S_OK;
        case Acceptance::None:
            return VFW_E_TYPE_NOT_ACCEPTED;
        case Acceptance::SFalse:
            return S_FALSE;
        case Acceptance::OnlyA:
            return type->subtype == kSubtypeA ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        case Acceptance::OnlyB:
            return type->subtype == kSubtypeB ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        return E_UNEXPECTED;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override {
        *types = new MediaTypeEnum(m_offered, 0, m_nullTypes);
        return S_OK;
    }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

private:
    bool m_directionFails = false;
    bool m_lies = false;
    GUID m_lastOfferedSubtype = {};
    bool m_nullTypes = false;
    TestFilter* m_filter;
    PIN_DIRECTION m_direction;
    std::wstring m_name;
    Acceptance m_acceptance;
    std::vector<AM_MEDIA_TYPE> m_offered;
    IPin* m_peer = nullptr;
    AM_MEDIA_TYPE m_type = {};
};

class PinEnum final : public ComObject<IEnumPins> {
public:
    explicit PinEnum(std::vector<IPin*> pins, size_t position = 0, bool handsOutNull = false)
        : m_pins(std::move(pins)), m_position(position), m_handsOutNull(handsOutNull) {
        for (IPin* pin : m_pins)
            pin->AddRef();
    }
    ~PinEnum() {
        for (IPin* pin : m_pins)
            pin->Release();
    }
    void* Find(REFIID iid) override { return iid == IID_IEnumPins ? static_cast<IEnumPins*>(this) : nullptr; }
    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (m_handsOutNull && count == 1) {
            pins[0] = nullptr;
            if (fetched) *fetched = 1;
            return S_OK;
        }
        ULONG n = 0;
        while (n < count && m_position < m_pins.size()) {
            pins[n] = m_pins[m_position++];
            pins[n++]->AddRef();
        }
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        m_position += count;
        return m_position <= m_pins.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumPins** out) override {
        *out = new PinEnum(m_pins, m_position);
        return S_OK;
    }

private:
    std::vector<IPin*> m_pins;
    size_t m_position;
    bool m_handsOutNull;
};

class TestFilter final : public ComObject<IBaseFilter, IFileSinkFilter, IAMFilterMiscFlags> {
public:
    TestFilter(const CLSID& classId, int kind) : m_classId(classId), m_kind(kind) {
        m_stopWriting = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        const AM_MEDIA_TYPE a = StreamType(kSubtypeA);
        const AM_MEDIA_TYPE b = StreamType(kSubtypeB);
        switch (kind) {
        case kNoPins:
            break;
        case kPass:
        case kJoinFails:
        case kNullPin:
        case kRunFails:
            AddInput(Acceptance::All);
            AddOutput({a});
            break;
        case kLyingOutput:
            AddInput(Acceptance::All);
            AddOutput({a});
            m_pins.back()->LieAboutConnecting();
            break;
        case kNullMediaType:
            AddInput(Acceptance::All);
            AddOutput({a});
            m_pins.back()->HandOutNullTypes();
            break;
        case kMuxLike:
            m_growing = Acceptance::All;
            AddInput(Acceptance::All);
            AddOutput({a});
            break;
        case kRefuseInput:
            AddInput(Acceptance::None);
            AddOutput({a});
            break;
        case kSFalseInput:
            AddInput(Acceptance::SFalse);
            AddOutput({a});
            break;
        case kSecondInput:
            AddInput(Acceptance::None);
            AddInput(Acceptance::All);
            AddOutput({a});
            break;
        case kNoDirection:
            AddInput(Acceptance::All);
            m_pins.back()->FailDirection();
            AddInput(Acceptance::All);
            break;
        case kNoTypesOutput:
            AddOutput({});
            break;
        case kTwoOutputs:
            AddInput(Acceptance::All);
            AddOutput({a});
            AddOutput({b});
            break;
        case kAcceptsOnlyA:
            m_growing = Acceptance::OnlyA;
            AddInput(Acceptance::OnlyA);
            break;
        case kAcceptsOnlyB:
            m_growing = Acceptance::OnlyB;
            AddInput(Acceptance::OnlyB);
            break;
        default:  // the stand-in file dump
            m_dump = DumpSettings::Read();
            AddInput(m_dump.refuseInput ? Acceptance::None : Acceptance::All);
            break;
        }
    }
    ~TestFilter() {
        StopWriting();
        CloseHandle(m_stopWriting);
        for (TestPin* pin : m_pins)
            delete pin;
        if (m_clock) m_clock->Release();
    }

    bool IsDump() const { return m_classId == kFileDumpClass; }

    // A multiplexer-like filter offers a new free input once all of its inputs are taken.
    void OnInputConnected() {
        if (m_growing == Acceptance::None) return;
        for (TestPin* pin : m_pins) {
            PIN_DIRECTION direction = PINDIR_OUTPUT;
            if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_INPUT && !pin->Connected())
                return;
        }
        AddInput(m_growing);
    }

    void* Find(REFIID iid) override {
        if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist)
            return static_cast<IBaseFilter*>(this);
        if (iid == IID_IFileSinkFilter && IsDump() && !m_dump.noSink)
            return static_cast<IFileSinkFilter*>(this);
        if (iid == IID_IAMFilterMiscFlags && IsDump()) return static_cast<IAMFilterMiscFlags*>(this);
        return nullptr;
    }

    STDMETHODIMP GetClassID(CLSID* classId) override {
        *classId = m_classId;
        return S_OK;
    }
    STDMETHODIMP Stop() override {
        StopWriting();
        m_state = State_Stopped;
        return S_OK;
    }
    STDMETHODIMP Pause() override {
        // Wine's graph runs a stopped graph by pausing it first and only then looks at results.
        if (m_kind == kRunFails) return E_FAIL;
        m_state = State_Paused;
        return S_OK;
    }
    STDMETHODIMP Run(REFERENCE_TIME) override {
        if (m_kind == kRunFails) return E_FAIL;
        if (IsDump() && !m_writer) {
            ResetEvent(m_stopWriting);
            AddRef();  // the writer's own reference, dropped when Stop has joined it
            m_writer = CreateThread(nullptr, 0, WriterThread, this, 0, nullptr);
            if (!m_writer) {
                Release();
                return E_FAIL;
            }
        }
        m_state = State_Running;
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
        *state = m_state;
        return S_OK;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
        if (clock) clock->AddRef();
        if (m_clock) m_clock->Release();
        m_clock = clock;
        return S_OK;
    }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
        *clock = m_clock;
        if (m_clock) m_clock->AddRef();
        return S_OK;
    }
    STDMETHODIMP EnumPins(IEnumPins** pins) override {
        const bool handsOutNull = m_kind == kNullPin && !m_enumeratedPins;
        m_enumeratedPins = true;
        *pins = new PinEnum(std::vector<IPin*>(m_pins.begin(), m_pins.end()), 0, handsOutNull);
        return S_OK;
    }
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override {
        for (TestPin* candidate : m_pins) {
            LPWSTR name = nullptr;
            candidate->QueryId(&name);
            const bool match = name && std::wcscmp(name, id) == 0;
            CoTaskMemFree(name);
            if (match) {
                *pin = candidate;
                candidate->AddRef();
                return S_OK;
            }
        }
        *pin = nullptr;
        return VFW_E_NOT_FOUND;
    }
    STDMETHODIMP QueryFilterInfo(FILTER_INFO* info) override {
        std::memset(info, 0, sizeof *info);
        wcsncpy(info->achName, m_name.c_str(), MAX_FILTER_NAME - 1);
        info->pGraph = m_graph;
        if (m_graph) m_graph->AddRef();
        return S_OK;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        if (graph && (m_kind == kJoinFails || (IsDump() && m_dump.joinFails))) return E_FAIL;
        // Weak references: the graph owns its filters, not the other way round.
        m_graph = graph;
        m_name = name ? name : L"";
        m_events = nullptr;
        IMediaEventSink* sink = nullptr;
        if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            m_events = sink;
            sink->Release();
        }
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    STDMETHODIMP SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE*) override {
        if (m_dump.nameFails) return E_ACCESSDENIED;
        if (!fileName) return E_POINTER;
        m_fileName = fileName;
        return S_OK;
    }
    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override {
        const size_t bytes = (m_fileName.size() + 1) * sizeof(wchar_t);
        *fileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!*fileName) return E_OUTOFMEMORY;
        std::memcpy(*fileName, m_fileName.c_str(), bytes);
        if (type) std::memset(type, 0, sizeof *type);
        return S_OK;
    }

    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

private:
    void AddInput(Acceptance acceptance) {
        m_pins.push_back(
            new TestPin(this, PINDIR_INPUT, L"In" + std::to_wstring(m_pins.size()), acceptance, {}));
    }
    void AddOutput(std::vector<AM_MEDIA_TYPE> offered) {
        m_pins.push_back(new TestPin(this, PINDIR_OUTPUT, L"Out" + std::to_wstring(m_pins.size()),
                                     Acceptance::None, std::move(offered)));
    }

    void StopWriting() {
        if (!m_writer) return;
        SetEvent(m_stopWriting);
        WaitForSingleObject(m_writer, INFINITE);
        CloseHandle(m_writer);
        m_writer = nullptr;
        Release();
    }

    static DWORD WINAPI WriterThread(LPVOID parameter) {
        static_cast<TestFilter*>(parameter)->Write();
        return 0;
    }

    // Stands in for a stream: the output grows chunk by chunk, then the graph hears the end.
    void Write() {
        HANDLE file = CreateFileW(m_fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const OpenedEvent step("Step"), chunkWritten("Written"), ended("Ended");
        std::vector<char> chunk(m_dump.chunkBytes, 'K');
        for (DWORD i = 0; i < m_dump.chunks; ++i) {
            if (m_dump.stepped && step.Get()) {
                const HANDLE waits[] = {m_stopWriting, step.Get()};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
            } else if (WaitForSingleObject(m_stopWriting, m_dump.intervalMs) != WAIT_TIMEOUT) {
                break;
            }
            DWORD written = 0;
            if (file != INVALID_HANDLE_VALUE && !chunk.empty())
                WriteFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr);
            chunkWritten.Set();
        }
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        if (WaitForSingleObject(m_stopWriting, 0) != WAIT_TIMEOUT || !m_events) return;
        if (m_dump.errorHr)
            m_events->Notify(EC_ERRORABORT, static_cast<LONG_PTR>(static_cast<HRESULT>(m_dump.errorHr)), 0);
        if (m_dump.stillPlaying)
            m_events->Notify(static_cast<long>(m_dump.stillPlaying), static_cast<LONG_PTR>(E_FAIL), 0);
        if (!m_dump.neverComplete)
            m_events->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
        ended.Set();
    }

    CLSID m_classId;
    int m_kind;
    std::vector<TestPin*> m_pins;
    Acceptance m_growing = Acceptance::None;
    bool m_enumeratedPins = false;
    FILTER_STATE m_state = State_Stopped;
    IReferenceClock* m_clock = nullptr;
    IFilterGraph* m_graph = nullptr;
    IMediaEventSink* m_events = nullptr;
    std::wstring m_name;
    std::wstring m_fileName;
    DumpSettings m_dump;
    HANDLE m_stopWriting = nullptr;
    HANDLE m_writer = nullptr;
};

STDMETHODIMP_(ULONG) TestPin::AddRef() {
    return m_filter->AddRef();
}
STDMETHODIMP_(ULONG) TestPin::Release() {
    return m_filter->Release();
}

STDMETHODIMP TestPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (!connector || !type) return E_POINTER;
    if (m_direction != PINDIR_INPUT) return E_UNEXPECTED;
    if (m_peer) return VFW_E_ALREADY_CONNECTED;
    if (FAILED(QueryAccept(type))) return VFW_E_TYPE_NOT_ACCEPTED;
    m_peer = connector;
    m_peer->AddRef();
    m_type = *type;
    m_type.pUnk = nullptr;
    m_type.cbFormat = 0;
    m_type.pbFormat = nullptr;
    m_filter->OnInputConnected();
    return S_OK;
}

STDMETHODIMP TestPin::QueryPinInfo(PIN_INFO* info) {
    info->pFilter = m_filter;
    m_filter->AddRef();
    info->dir = m_direction;
    wcsncpy(info->achName, m_name.c_str(), MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = L'\0';
    return S_OK;
}

class Factory final : public ComObject<IClassFactory> {
public:
    Factory(const CLSID& classId, int kind) : m_classId(classId), m_kind(kind) {}
    void* Find(REFIID iid) override {
        return iid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr;
    }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        if (m_kind == kFailCreate) return E_OUTOFMEMORY;
        if (m_classId == kFileDumpClass && DumpSettings::Read().createFails) return E_OUTOFMEMORY;
        return HandOut(new TestFilter(m_classId, m_kind), iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ++serverLocks;
        else
            --serverLocks;
        return S_OK;
    }

private:
    CLSID m_classId;
    int m_kind;
};

}  // namespace

HRESULT CreateGraphStandInFactory(REFIID iid, void** out);

HRESULT CreateTestFilterFactory(const CLSID& classId, REFIID iid, void** out) {
    *out = nullptr;
    if (classId == CLSID_FilterGraph) return CreateGraphStandInFactory(iid, out);
    int kind = 0;
    if (classId == kFileDumpClass) {
        kind = 0;
    } else {
        CLSID base = TestFilterClass(kFailCreate);
        base.Data4[7] = classId.Data4[7];
        if (base != classId || classId.Data4[7] < kFailCreate || classId.Data4[7] > kLastTestFilterKind)
            return CLASS_E_CLASSNOTAVAILABLE;
        kind = classId.Data4[7];
    }
    return HandOut(new Factory(classId, kind), iid, out);
}

const CLSID& FileDumpClassId() {
    return kFileDumpClass;
}
