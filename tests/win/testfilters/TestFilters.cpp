// DirectShow filters that misbehave on purpose, for the engine's tests, on the filter pack's
// own filter and pin base. No samples flow between them, so their pins are plain BasePins
// without a transport, which Wine's File Source (Async.) can connect to as well.
#include "TestFilters.h"

#include "BaseFilter.h"
#include "TestFilterIds.h"

#include <win32/ClassIds.h>
#include <win32/ComObject.h>
#include <win32/Scoped.h>

#include <evcode.h>
#include <uuids.h>
#include <vfwmsgs.h>

#include <cstring>
#include <utility>
#include <vector>

using namespace korvane::filters;

DWORD ReadStandInSetting(const char* name) {
    ScopedRegKey key;
    DWORD value = 0, size = sizeof value, type = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kStandInDumpKey, 0, KEY_READ, key.Out()) != ERROR_SUCCESS ||
        RegQueryValueExA(key.Get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return value;
}

namespace {

enum class Acceptance { All, None, SFalse, OnlyA, OnlyB };

// Answers each Next with S_OK and null items, as many as the sound enumerator would give.
template <class Enum, class Item>
class NullEnumerator final : public ComObject<Enum>, private Counted<ObjectKind::Enumerator> {
public:
    explicit NullEnumerator(ULONG items) : m_left(items) {}
    STDMETHODIMP Next(ULONG count, Item** items, ULONG* fetched) override {
        ULONG n = 0;
        for (; n < count && m_left > 0; ++n, --m_left)
            items[n] = nullptr;
        if (fetched) *fetched = n;
        return n == count ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG) override { return S_OK; }
    STDMETHODIMP Reset() override { return S_OK; }
    STDMETHODIMP Clone(Enum**) override { return E_NOTIMPL; }

private:
    ULONG m_left;
};

class TestFilter;

class TestPin final : public BasePin {
public:
    TestPin(BaseFilter* filter, PIN_DIRECTION direction, std::wstring name, Acceptance acceptance,
            std::vector<GUID> offered)
        : BasePin(filter, direction, std::move(name)),
          m_acceptance(acceptance),
          m_offered(std::move(offered)) {}

    bool m_directionFails = false;  // QueryDirection fails, leaving its argument as it was
    bool m_lies = false;            // Connect reports success and connects nothing
    bool m_nullTypes = false;       // the type enumerator gives S_OK and null types

    HRESULT CheckMediaType(const AM_MEDIA_TYPE* mt) override {
        if (m_direction == PINDIR_OUTPUT) {
            for (const GUID& subtype : m_offered)
                if (mt->subtype == subtype) return S_OK;
            return S_FALSE;
        }
        if (m_acceptance == Acceptance::None) return S_FALSE;
        if (m_acceptance == Acceptance::OnlyA) return mt->subtype == kSubtypeA ? S_OK : S_FALSE;
        if (m_acceptance == Acceptance::OnlyB) return mt->subtype == kSubtypeB ? S_OK : S_FALSE;
        return S_OK;
    }
    HRESULT GetMediaType(int index, AM_MEDIA_TYPE* mt) override {
        if (index < 0 || static_cast<size_t>(index) >= m_offered.size()) return VFW_S_NO_MORE_ITEMS;
        return MakeMediaType(mt, MEDIATYPE_Stream, m_offered[index], FORMAT_None, nullptr, 0);
    }
    HRESULT CompleteConnect(IPin* peer) override;

    STDMETHODIMP Connect(IPin* receivePin, const AM_MEDIA_TYPE* mt) override {
        return m_lies ? S_OK : BasePin::Connect(receivePin, mt);
    }
    STDMETHODIMP QueryDirection(PIN_DIRECTION* direction) override {
        return m_directionFails ? E_FAIL : BasePin::QueryDirection(direction);
    }
    // Reads what it is offered, as every real pin does (a null type is not checked for).
    STDMETHODIMP QueryAccept(const AM_MEDIA_TYPE* mt) override {
        if (CheckMediaType(mt) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        return m_acceptance == Acceptance::SFalse ? S_FALSE : S_OK;
    }
    STDMETHODIMP EnumMediaTypes(IEnumMediaTypes** types) override {
        if (!m_nullTypes) return BasePin::EnumMediaTypes(types);
        using Enumerator = NullEnumerator<IEnumMediaTypes, AM_MEDIA_TYPE>;
        return HandOut(new Enumerator(static_cast<ULONG>(m_offered.size())), IID_IEnumMediaTypes,
                       reinterpret_cast<void**>(types));
    }

    const Acceptance m_acceptance;

private:
    std::vector<GUID> m_offered;
};

class TestFilter : public BaseFilter {
public:
    TestFilter(const CLSID& classId, int kind) : BaseFilter(classId), m_kind(kind) {
        using A = Acceptance;
        switch (kind) {
        case kPass:
        case kJoinFails:
        case kNullPin:
        case kRunFails:
        case kMuxLike:
        case kLyingOutput:
        case kNullMediaType:
        case kRefuseInput:
        case kSFalseInput:
            AddTestPin(PINDIR_INPUT, kind == kRefuseInput   ? A::None
                                     : kind == kSFalseInput ? A::SFalse
                                                            : A::All);
            AddTestPin(PINDIR_OUTPUT, A::None, {kSubtypeA});
            m_last->m_lies = kind == kLyingOutput;
            m_last->m_nullTypes = kind == kNullMediaType;
            break;
        case kSecondInput:
            AddTestPin(PINDIR_INPUT, A::None);
            AddTestPin(PINDIR_INPUT, A::All);
            AddTestPin(PINDIR_OUTPUT, A::None, {kSubtypeA});
            break;
        case kNoDirection:
            AddTestPin(PINDIR_INPUT, A::All);
            m_last->m_directionFails = true;
            AddTestPin(PINDIR_INPUT, A::All);
            break;
        case kNoTypesOutput:
            AddTestPin(PINDIR_OUTPUT, A::None);
            break;
        case kTwoOutputs:
            AddTestPin(PINDIR_INPUT, A::All);
            AddTestPin(PINDIR_OUTPUT, A::None, {kSubtypeA});
            AddTestPin(PINDIR_OUTPUT, A::None, {kSubtypeB});
            break;
        case kAcceptsOnlyA:
        case kAcceptsOnlyB:
            AddTestPin(PINDIR_INPUT, kind == kAcceptsOnlyA ? A::OnlyA : A::OnlyB);
            break;
        default:  // kNoPins, and the stand-in dump, which adds its own input
            break;
        }
        m_growing = kind == kMuxLike                                 ? A::All
                    : kind == kAcceptsOnlyA || kind == kAcceptsOnlyB ? m_last->m_acceptance
                                                                     : A::None;
    }

    // A multiplexer-like filter offers a new free input once all of its inputs are taken.
    void OnInputConnected() {
        if (m_growing == Acceptance::None) return;
        for (BasePin* pin : Pins())
            if (pin->Direction() == PINDIR_INPUT && !pin->IsConnected()) return;
        AddTestPin(PINDIR_INPUT, m_growing, {});
    }

    // The first enumerator of a kNullPin filter gives null pins; later ones are sound, so the
    // graph manager can still remove the filter.
    STDMETHODIMP EnumPins(IEnumPins** pins) override {
        if (m_kind != kNullPin || std::exchange(m_enumeratedPins, true)) return BaseFilter::EnumPins(pins);
        using Enumerator = NullEnumerator<IEnumPins, IPin>;
        return HandOut(new Enumerator(static_cast<ULONG>(Pins().size())), IID_IEnumPins,
                       reinterpret_cast<void**>(pins));
    }
    STDMETHODIMP JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override {
        if (graph && JoinFails()) return E_FAIL;
        return BaseFilter::JoinFilterGraph(graph, name);
    }

protected:
    // Wine's graph runs a stopped graph by pausing it first and only then looks at results.
    HRESULT OnPause(bool) override { return m_kind == kRunFails ? E_FAIL : S_OK; }
    HRESULT OnRun(REFERENCE_TIME) override { return m_kind == kRunFails ? E_FAIL : S_OK; }
    virtual bool JoinFails() const { return m_kind == kJoinFails; }

    // Pins are named after their place: In0, Out1, In2...
    void AddTestPin(PIN_DIRECTION direction, Acceptance acceptance, std::vector<GUID> offered = {}) {
        const std::wstring name =
            (direction == PINDIR_INPUT ? L"In" : L"Out") + std::to_wstring(Pins().size());
        auto pin = std::make_unique<TestPin>(this, direction, name, acceptance, std::move(offered));
        m_last = pin.get();
        AddPin(std::move(pin));
    }

private:
    int m_kind;
    Acceptance m_growing = Acceptance::None;
    bool m_enumeratedPins = false;
    TestPin* m_last = nullptr;  // the pin added last (the base owns it)
};

HRESULT TestPin::CompleteConnect(IPin*) {
    if (m_direction == PINDIR_INPUT) static_cast<TestFilter*>(m_filter)->OnInputConnected();
    return S_OK;
}

// The stand-in file dump: its behaviour comes from the settings under kStandInDumpKey.
class StandInDump final : public AlsoImplements<TestFilter, IFileSinkFilter, IAMFilterMiscFlags> {
public:
    StandInDump() : AlsoImplements(classids::kFileDump, 0) {
        AddTestPin(PINDIR_INPUT, ReadStandInSetting("refuseInput") ? Acceptance::None : Acceptance::All);
    }
    ~StandInDump() override { AfterStop(); }

    STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IFileSinkFilter && m_noSink) {
            if (out) *out = nullptr;
            return E_NOINTERFACE;
        }
        return AlsoImplements::QueryInterface(iid, out);
    }
    STDMETHODIMP SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE*) override {
        if (m_nameFails) return E_ACCESSDENIED;
        if (!fileName) return E_POINTER;
        m_fileName = fileName;
        return S_OK;
    }
    STDMETHODIMP GetCurFile(LPOLESTR* fileName, AM_MEDIA_TYPE* type) override {
        const size_t bytes = (m_fileName.size() + 1) * sizeof(wchar_t);
        *fileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
        if (!*fileName) return E_OUTOFMEMORY;
        std::memcpy(*fileName, m_fileName.c_str(), bytes);
        if (type) ZeroMemory(type, sizeof *type);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

protected:
    bool JoinFails() const override { return m_joinFails; }
    HRESULT OnRun(REFERENCE_TIME) override {
        if (m_writer) return S_OK;
        ResetEvent(m_stopWriting.Get());
        m_writer = ScopedHandle(CreateThread(nullptr, 0, WriterThread, this, 0, nullptr));
        return m_writer ? S_OK : E_FAIL;
    }
    // Also called by the destructor: the thread never outlives the filter.
    void AfterStop() override {
        if (!m_writer) return;
        SetEvent(m_stopWriting.Get());
        WaitForSingleObject(m_writer.Get(), INFINITE);
        m_writer.Reset();
    }

private:
    static DWORD WINAPI WriterThread(LPVOID self) {
        static_cast<StandInDump*>(self)->Write();
        return 0;
    }
    // A named event the test may have made; null when it has not.
    static ScopedHandle OpenTestEvent(const char* what) {
        return ScopedHandle(
            OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, StandInEventName(what).c_str()));
    }
    static void Set(const ScopedHandle& event) {
        if (event) SetEvent(event.Get());
    }

    // Stands in for a stream: the output grows chunk by chunk, then the graph hears the end.
    void Write() {
        const ScopedHandle step = OpenTestEvent("Step"), written = OpenTestEvent("Written"),
                           ended = OpenTestEvent("Ended");
        const HANDLE opened =
            CreateFileW(m_fileName.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                        CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        ScopedHandle file(opened == INVALID_HANDLE_VALUE ? nullptr : opened);
        const std::vector<char> chunk(m_chunkBytes, 'K');
        for (DWORD i = 0; i < m_chunks; ++i) {
            if (m_stepped && step) {
                const HANDLE waits[] = {m_stopWriting.Get(), step.Get()};
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0 + 1) break;
            } else if (WaitForSingleObject(m_stopWriting.Get(), m_intervalMs) != WAIT_TIMEOUT) {
                break;
            }
            DWORD done = 0;
            if (file && !chunk.empty())
                WriteFile(file.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &done, nullptr);
            Set(written);
        }
        file.Reset();
        if (WaitForSingleObject(m_stopWriting.Get(), 0) != WAIT_TIMEOUT) return;
        if (m_errorHr) NotifyEvent(EC_ERRORABORT, static_cast<LONG_PTR>(static_cast<HRESULT>(m_errorHr)), 0);
        if (m_stillPlaying) NotifyEvent(static_cast<long>(m_stillPlaying), static_cast<LONG_PTR>(E_FAIL), 0);
        if (!m_neverComplete)
            NotifyEvent(EC_COMPLETE, S_OK, reinterpret_cast<LONG_PTR>(static_cast<IBaseFilter*>(this)));
        Set(ended);
    }

    // The settings as they were when the dump was made.
    const DWORD m_noSink = ReadStandInSetting("noSink"), m_nameFails = ReadStandInSetting("nameFails"),
                m_joinFails = ReadStandInSetting("joinFails"), m_chunks = ReadStandInSetting("chunks"),
                m_chunkBytes = ReadStandInSetting("chunkBytes"),
                m_intervalMs = ReadStandInSetting("intervalMs"), m_errorHr = ReadStandInSetting("errorHr"),
                m_neverComplete = ReadStandInSetting("neverComplete"),
                m_stepped = ReadStandInSetting("stepped"),
                m_stillPlaying = ReadStandInSetting("stillPlaying");
    std::wstring m_fileName;
    ScopedHandle m_stopWriting{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    ScopedHandle m_writer;
};

}  // namespace

HRESULT CreateTestFilter(int kind, REFIID iid, void** out) {
    if (kind == kFailCreate || (kind == 0 && ReadStandInSetting("createFails"))) return E_OUTOFMEMORY;
    if (kind == 0) return HandOut(new StandInDump, iid, out);
    return HandOut(new TestFilter(TestFilterClass(static_cast<TestFilterKind>(kind)), kind), iid, out);
}
