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
    if (!copy)
        return nullptr;
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
        : handle_(OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, StandInEventName(what).c_str())) {}
    ~OpenedEvent() {
        if (handle_)
            CloseHandle(handle_);
    }
    OpenedEvent(const OpenedEvent&) = delete;
    OpenedEvent& operator=(const OpenedEvent&) = delete;
    HANDLE Get() const { return handle_; }
    void Set() const {
        if (handle_)
            SetEvent(handle_);
    }

private:
    HANDLE handle_;
};

enum class Acceptance { All, None, SFalse, OnlyA, OnlyB };

struct DumpSettings {
    DWORD createFails = 0, noSink = 0, nameFails = 0, refuseInput = 0, joinFails = 0;
    DWORD chunks = 0, chunkBytes = 0, intervalMs = 0, errorHr = 0, neverComplete = 0, stepped = 0, stillPlaying = 0;

    static DumpSettings Read() {
        DumpSettings s;
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kStandInDumpKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
            return s;
        auto read = [key](const char* name, DWORD& value) {
            DWORD size = sizeof value;
            DWORD type = 0;
            DWORD data = 0;
            if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&data), &size) == ERROR_SUCCESS &&
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
        : types_(std::move(types)), position_(position), handsOutNull_(handsOutNull) {}
    void* Find(REFIID iid) override {
        return iid == IID_IEnumMediaTypes ? static_cast<IEnumMediaTypes*>(this) : nullptr;
    }
    STDMETHODIMP Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override {
        ULONG n = 0;
        while (n < count && position_ < types_.size()) {
            types[n++] = handsOutNull_ ? nullptr : CopyMediaType(types_[position_]);
            ++position_;
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        position_ += count;
        return position_ <= types_.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumMediaTypes** out) override {
        *out = new MediaTypeEnum(types_, position_, handsOutNull_);
        return S_OK;
    }

private:
    std::vector<AM_MEDIA_TYPE> types_;
    size_t position_;
    bool handsOutNull_;
};

class TestPin final : public IPin {
public:
    TestPin(TestFilter* filter, PIN_DIRECTION direction, std::wstring name, Acceptance acceptance,
            std::vector<AM_MEDIA_TYPE> offered)
        : filter_(filter), direction_(direction), name_(std::move(name)), acceptance_(acceptance),
          offered_(std::move(offered)) { ++liveObjects; }
    ~TestPin() {
        if (peer_)
            peer_->Release();
        --liveObjects;
    }

    bool Connected() const { return peer_ != nullptr; }

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
        if (!receivePin)
            return E_POINTER;
        if (direction_ != PINDIR_OUTPUT)
            return E_UNEXPECTED;
        if (peer_)
            return VFW_E_ALREADY_CONNECTED;
        for (const AM_MEDIA_TYPE& offered : offered_) {
            if (type && type->majortype != GUID_NULL && type->majortype != offered.majortype)
                continue;
            if (type && type->subtype != GUID_NULL && type->subtype != offered.subtype)
                continue;
            if (lies_)
                return S_OK;
            if (SUCCEEDED(receivePin->ReceiveConnection(this, &offered))) {
                peer_ = receivePin;
                peer_->AddRef();
                type_ = offered;
                return S_OK;
            }
        }
        return VFW_E_NO_ACCEPTABLE_TYPES;
    }
    STDMETHODIMP ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
    STDMETHODIMP Disconnect() override {
        if (!peer_)
            return S_FALSE;
        peer_->Release();
        peer_ = nullptr;
        return S_OK;
    }
    STDMETHODIMP ConnectedTo(IPin** pin) override {
        if (!pin)
            return E_POINTER;
        *pin = peer_;
        if (!peer_)
            return VFW_E_NOT_CONNECTED;
        peer_->AddRef();
        return S_OK;
    }
    STDMETHODIMP ConnectionMediaType(AM_MEDIA_TYPE* type) override {
        if (!peer_)
            return VFW_E_NOT_CONNECTED;
        *type = type_;
        type->pUnk = nullptr;
        type->cbFormat = 0;
        type->pbFormat = nullptr;
        return S_OK;
    }
    STDMETHODIMP QueryPinInfo(PIN_INFO* info) override;
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
        if (directionFails_)
            return E_FAIL;  // and leaves *direction as it was
        *direction = direction_;
        return S_OK;
    }
    void FailDirection() { directionFails_ = true; }
    void LieAboutConnecting() { lies_ = true; }
    void HandOutNullTypes() { nullTypes_ = true; }
    STDMETHODIMP QueryId(LPWSTR* id) override {
        const size_t bytes = (name_.size() + 1) * sizeof(wchar_t);
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
        if (!*id)
            return E_OUTOFMEMORY;
        std::memcpy(*id, name_.c_str(), bytes);
        return S_OK;
    }
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* type) override {
        lastOfferedSubtype_ = type->subtype;  // as every real pin, it reads what it is offered
        switch (acceptance_) {
        case Acceptance::All: return S_OK;
        case Acceptance::None: return VFW_E_TYPE_NOT_ACCEPTED;
        case Acceptance::SFalse: return S_FALSE;
        case Acceptance::OnlyA: return type->subtype == kSubtypeA ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        case Acceptance::OnlyB: return type->subtype == kSubtypeB ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
        }
        return E_UNEXPECTED;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override {
        *types = new MediaTypeEnum(offered_, 0, nullTypes_);
        return S_OK;
    }
    STDMETHODIMP QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP EndOfStream() override { return S_OK; }
    STDMETHODIMP BeginFlush() override { return S_OK; }
    STDMETHODIMP EndFlush() override { return S_OK; }
    STDMETHODIMP NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }

private:
    bool directionFails_ = false;
    bool lies_ = false;
    GUID lastOfferedSubtype_ = {};
    bool nullTypes_ = false;
    TestFilter* filter_;
    PIN_DIRECTION direction_;
    std::wstring name_;
    Acceptance acceptance_;
    std::vector<AM_MEDIA_TYPE> offered_;
    IPin* peer_ = nullptr;
    AM_MEDIA_TYPE type_ = {};
};

class PinEnum final : public ComObject<IEnumPins> {
public:
    explicit PinEnum(std::vector<IPin*> pins, size_t position = 0, bool handsOutNull = false)
        : pins_(std::move(pins)), position_(position), handsOutNull_(handsOutNull) {
        for (IPin* pin : pins_)
            pin->AddRef();
    }
    ~PinEnum() {
        for (IPin* pin : pins_)
            pin->Release();
    }
    void* Find(REFIID iid) override { return iid == IID_IEnumPins ? static_cast<IEnumPins*>(this) : nullptr; }
    STDMETHODIMP Next(ULONG count, IPin** pins, ULONG* fetched) override {
        if (handsOutNull_ && count == 1) {
            pins[0] = nullptr;
            if (fetched)
                *fetched = 1;
            return S_OK;
        }
        ULONG n = 0;
        while (n < count && position_ < pins_.size()) {
            pins[n] = pins_[position_++];
            pins[n++]->AddRef();
        }
        if (fetched)
            *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG count) override {
        position_ += count;
        return position_ <= pins_.size() ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        position_ = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumPins** out) override {
        *out = new PinEnum(pins_, position_);
        return S_OK;
    }

private:
    std::vector<IPin*> pins_;
    size_t position_;
    bool handsOutNull_;
};

class TestFilter final : public ComObject<IBaseFilter, IFileSinkFilter, IAMFilterMiscFlags> {
public:
    TestFilter(const CLSID& classId, int kind) : classId_(classId), kind_(kind) {
        stopWriting_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        const AM_MEDIA_TYPE a = StreamType(kSubtypeA);
        const AM_MEDIA_TYPE b = StreamType(kSubtypeB);
        switch (kind) {
        case kNoPins: break;
        case kPass:
        case kJoinFails:
        case kNullPin:
        case kRunFails: AddInput(Acceptance::All); AddOutput({a}); break;
        case kLyingOutput:
            AddInput(Acceptance::All);
            AddOutput({a});
            pins_.back()->LieAboutConnecting();
            break;
        case kNullMediaType:
            AddInput(Acceptance::All);
            AddOutput({a});
            pins_.back()->HandOutNullTypes();
            break;
        case kMuxLike: growing_ = Acceptance::All; AddInput(Acceptance::All); AddOutput({a}); break;
        case kRefuseInput: AddInput(Acceptance::None); AddOutput({a}); break;
        case kSFalseInput: AddInput(Acceptance::SFalse); AddOutput({a}); break;
        case kSecondInput: AddInput(Acceptance::None); AddInput(Acceptance::All); AddOutput({a}); break;
        case kNoDirection:
            AddInput(Acceptance::All);
            pins_.back()->FailDirection();
            AddInput(Acceptance::All);
            break;
        case kNoTypesOutput: AddOutput({}); break;
        case kTwoOutputs: AddInput(Acceptance::All); AddOutput({a}); AddOutput({b}); break;
        case kAcceptsOnlyA: growing_ = Acceptance::OnlyA; AddInput(Acceptance::OnlyA); break;
        case kAcceptsOnlyB: growing_ = Acceptance::OnlyB; AddInput(Acceptance::OnlyB); break;
        default:  // the stand-in file dump
            dump_ = DumpSettings::Read();
            AddInput(dump_.refuseInput ? Acceptance::None : Acceptance::All);
            break;
        }
    }
    ~TestFilter() {
        StopWriting();
        CloseHandle(stopWriting_);
        for (TestPin* pin : pins_)
            delete pin;
        if (clock_)
            clock_->Release();
    }

    bool IsDump() const { return classId_ == kFileDumpClass; }

    // A multiplexer-like filter offers a new free input once all of its inputs are taken.
    void OnInputConnected() {
        if (growing_ == Acceptance::None)
            return;
        for (TestPin* pin : pins_) {
            PIN_DIRECTION direction = PINDIR_OUTPUT;
            if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == PINDIR_INPUT && !pin->Connected())
                return;
        }
        AddInput(growing_);
    }

    void* Find(REFIID iid) override {
        if (iid == IID_IBaseFilter || iid == IID_IMediaFilter || iid == IID_IPersist)
            return static_cast<IBaseFilter*>(this);
        if (iid == IID_IFileSinkFilter && IsDump() && !dump_.noSink)
            return static_cast<IFileSinkFilter*>(this);
        if (iid == IID_IAMFilterMiscFlags && IsDump())
            return static_cast<IAMFilterMiscFlags*>(this);
        return nullptr;
    }

    STDMETHODIMP GetClassID(CLSID* classId) override {
        *classId = classId_;
        return S_OK;
    }
    STDMETHODIMP Stop() override {
        StopWriting();
        state_ = State_Stopped;
        return S_OK;
    }
    STDMETHODIMP Pause() override {
        // Wine's graph runs a stopped graph by pausing it first and only then looks at results.
        if (kind_ == kRunFails)
            return E_FAIL;
        state_ = State_Paused;
        return S_OK;
    }
    STDMETHODIMP Run(REFERENCE_TIME) override {
        if (kind_ == kRunFails)
            return E_FAIL;
        if (IsDump() && !writer_) {
            ResetEvent(stopWriting_);
            AddRef();  // the writer's own reference, dropped when Stop has joined it
            writer_ = CreateThread(nullptr, 0, WriterThread, this, 0, nullptr);
            if (!writer_) {
                Release();
                return E_FAIL;
            }
        }
        state_ = State_Running;
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD, FILTER_STATE* state) override {
        *state = state_;
        return S_OK;
    }
    STDMETHODIMP SetSyncSource(IReferenceClock* clock) override {
        if (clock)
            clock->AddRef();
        if (clock_)
            clock_->Release();
        clock_ = clock;
        return S_OK;
    }
    STDMETHODIMP GetSyncSource(IReferenceClock** clock) override {
        *clock = clock_;
        if (clock_)
            clock_->AddRef();
        return S_OK;
    }
    STDMETHODIMP EnumPins(IEnumPins** pins) override {
        const bool handsOutNull = kind_ == kNullPin && !enumeratedPins_;
        enumeratedPins_ = true;
        *pins = new PinEnum(std::vector<IPin*>(pins_.begin(), pins_.end()), 0, handsOutNull);
        return S_OK;
    }
    STDMETHODIMP FindPin(LPCWSTR id, IPin** pin) override {
        for (TestPin* candidate : pins_) {
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
        wcsncpy(info->achName, name_.c_str(), MAX_FILTER_NAME - 1);
        info->pGraph = graph_;
        if (graph_)
            graph_->AddRef();
        return S_OK;
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        if (graph && (kind_ == kJoinFails || (IsDump() && dump_.joinFails)))
            return E_FAIL;
        // Weak references: the graph owns its filters, not the other way round.
        graph_ = graph;
        name_ = name ? name : L"";
        events_ = nullptr;
        IMediaEventSink* sink = nullptr;
        if (graph && SUCCEEDED(graph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink)))) {
            events_ = sink;
            sink->Release();
        }
        return S_OK;
    }
    STDMETHODIMP QueryVendorInfo(LPWSTR*) override { return E_NOTIMPL; }

    STDMETHODIMP SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE*) override {
        if (dump_.nameFails)
            return E_ACCESSDENIED;
        if (!fileName)
            return E_POINTER;
        fileName_ = fileName;
        return S_OK;
    }
    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override {
        const size_t bytes = (fileName_.size() + 1) * sizeof(wchar_t);
        *fileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!*fileName)
            return E_OUTOFMEMORY;
        std::memcpy(*fileName, fileName_.c_str(), bytes);
        if (type)
            std::memset(type, 0, sizeof *type);
        return S_OK;
    }

    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

private:
    void AddInput(Acceptance acceptance) {
        pins_.push_back(new TestPin(this, PINDIR_INPUT, L"In" + std::to_wstring(pins_.size()), acceptance, {}));
    }
    void AddOutput(std::vector<AM_MEDIA_TYPE> offered) {
        pins_.push_back(new TestPin(this, PINDIR_OUTPUT, L"Out" + std::to_wstring(pins_.size()), Acceptance::None,
                                    std::move(offered)));
    }

    void StopWriting() {
        if (!writer_)
            return;
        SetEvent(stopWriting_);
        WaitForSingleObject(writer_, INFINITE);
        CloseHandle(writer_);
        writer_ = nullptr;
        Release();
    }

    static DWORD WINAPI WriterThread(LPVOID parameter) {
        static_cast<TestFilter*>(parameter)->Write();
        return 0;
    }

    // Stands in for a stream: the output grows chunk by chunk, then the graph hears the end.
    void Write() {
        HANDLE file = CreateFileW(fileName_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        const OpenedEvent step("Step"), chunkWritten("Written"), ended("Ended");
        std::vector<char> chunk(dump_.chunkBytes, 'K');
        for (DWORD i = 0; i < dump_.chunks; ++i) {
            if (dump_.stepped && step.Get()) {
                const HANDLE waits[] = {stopWriting_, step.Get()};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1)
                    break;
            } else if (WaitForSingleObject(stopWriting_, dump_.intervalMs) != WAIT_TIMEOUT) {
                break;
            }
            DWORD written = 0;
            if (file != INVALID_HANDLE_VALUE && !chunk.empty())
                WriteFile(file, chunk.data(), static_cast<DWORD>(chunk.size()), &written, nullptr);
            chunkWritten.Set();
        }
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (WaitForSingleObject(stopWriting_, 0) != WAIT_TIMEOUT || !events_)
            return;
        if (dump_.errorHr)
            events_->Notify(EC_ERRORABORT, static_cast<LONG_PTR>(static_cast<HRESULT>(dump_.errorHr)), 0);
        if (dump_.stillPlaying)
            events_->Notify(static_cast<long>(dump_.stillPlaying), static_cast<LONG_PTR>(E_FAIL), 0);
        if (!dump_.neverComplete)
            events_->Notify(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
        ended.Set();
    }

    CLSID classId_;
    int kind_;
    std::vector<TestPin*> pins_;
    Acceptance growing_ = Acceptance::None;
    bool enumeratedPins_ = false;
    FILTER_STATE state_ = State_Stopped;
    IReferenceClock* clock_ = nullptr;
    IFilterGraph* graph_ = nullptr;
    IMediaEventSink* events_ = nullptr;
    std::wstring name_;
    std::wstring fileName_;
    DumpSettings dump_;
    HANDLE stopWriting_ = nullptr;
    HANDLE writer_ = nullptr;
};

STDMETHODIMP_(ULONG) TestPin::AddRef() { return filter_->AddRef(); }
STDMETHODIMP_(ULONG) TestPin::Release() { return filter_->Release(); }

STDMETHODIMP TestPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
    if (!connector || !type)
        return E_POINTER;
    if (direction_ != PINDIR_INPUT)
        return E_UNEXPECTED;
    if (peer_)
        return VFW_E_ALREADY_CONNECTED;
    if (FAILED(QueryAccept(type)))
        return VFW_E_TYPE_NOT_ACCEPTED;
    peer_ = connector;
    peer_->AddRef();
    type_ = *type;
    type_.pUnk = nullptr;
    type_.cbFormat = 0;
    type_.pbFormat = nullptr;
    filter_->OnInputConnected();
    return S_OK;
}

STDMETHODIMP TestPin::QueryPinInfo(PIN_INFO* info) {
    info->pFilter = filter_;
    filter_->AddRef();
    info->dir = direction_;
    wcsncpy(info->achName, name_.c_str(), MAX_PIN_NAME - 1);
    info->achName[MAX_PIN_NAME - 1] = L'\0';
    return S_OK;
}

class Factory final : public ComObject<IClassFactory> {
public:
    Factory(const CLSID& classId, int kind) : classId_(classId), kind_(kind) {}
    void* Find(REFIID iid) override { return iid == IID_IClassFactory ? static_cast<IClassFactory*>(this) : nullptr; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        if (kind_ == kFailCreate)
            return E_OUTOFMEMORY;
        if (classId_ == kFileDumpClass && DumpSettings::Read().createFails)
            return E_OUTOFMEMORY;
        return HandOut(new TestFilter(classId_, kind_), iid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override {
        if (lock)
            ++serverLocks;
        else
            --serverLocks;
        return S_OK;
    }

private:
    CLSID classId_;
    int kind_;
};

}  // namespace

HRESULT CreateGraphStandInFactory(REFIID iid, void** out);

HRESULT CreateTestFilterFactory(const CLSID& classId, REFIID iid, void** out) {
    *out = nullptr;
    if (classId == CLSID_FilterGraph)
        return CreateGraphStandInFactory(iid, out);
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

const CLSID& FileDumpClassId() { return kFileDumpClass; }
