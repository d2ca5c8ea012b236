// The SimConnect functions of the substitute library. Handles are numbers in
// a registry rather than raw pointers, so a call on a closed handle fails
// cleanly, and Close can race other calls on the same handle.

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "config.h"
#include "connection.h"
#include "sdk.h"

namespace velmar::standin {
namespace {

struct Registry {
    std::mutex mutex;  // guards connections and next_handle
    std::unordered_map<std::uintptr_t, std::shared_ptr<Connection>> connections;
    std::uintptr_t next_handle = 1;
};

// Never destroyed: a process may exit with a connection open, and joining its
// receiver during static destruction would gain nothing.
Registry& registry() {
    static auto* instance = new Registry;
    return *instance;
}

std::shared_ptr<Connection> find(HANDLE handle) {
    Registry& all = registry();
    std::lock_guard lock(all.mutex);
    const auto found = all.connections.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == all.connections.end() ? nullptr : found->second;
}

template <typename Fill>
HRESULT round_trip(HANDLE handle, wire::Kind kind, Fill fill) {
    const std::shared_ptr<Connection> connection = find(handle);
    if (!connection) return E_FAIL;
    wire::Writer message = connection->begin_call(kind);
    fill(message);
    return connection->call(std::move(message));
}

}  // namespace
}  // namespace velmar::standin

using velmar::standin::Connection;
using velmar::standin::round_trip;
using velmar::standin::wire::Kind;
using velmar::standin::wire::Writer;
namespace net = velmar::standin::net;
namespace wire = velmar::standin::wire;

SIMCONNECTAPI SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND hWnd, DWORD UserEventWin32, HANDLE hEventHandle,
                              DWORD ConfigIndex) {
    if (phSimConnect == nullptr) return E_INVALIDARG;
    const net::Socket socket = velmar::standin::connect_to_simulator(ConfigIndex, velmar::standin::kConnectTimeout,
                                                                     velmar::standin::kCallTimeout);
    if (socket == net::kNoSocket) return E_FAIL;

    auto connection = std::make_shared<Connection>(socket);
    Writer message = connection->begin_call(Kind::Open);
    message.u32(wire::kProtocolVersion)
        .text(szName)
        .flag(hWnd != nullptr)
        .u32(UserEventWin32)
        .flag(hEventHandle != nullptr)
        .u32(ConfigIndex);
    const HRESULT result = connection->call(std::move(message));
    if (result != S_OK) return result;  // the connection closes with the last reference

    auto& all = velmar::standin::registry();
    std::lock_guard lock(all.mutex);
    const std::uintptr_t handle = all.next_handle++;
    all.connections.emplace(handle, std::move(connection));
    *phSimConnect = reinterpret_cast<HANDLE>(handle);
    return S_OK;
}

SIMCONNECTAPI SimConnect_Close(HANDLE hSimConnect) {
    std::shared_ptr<Connection> connection;
    {
        auto& all = velmar::standin::registry();
        std::lock_guard lock(all.mutex);
        const auto found = all.connections.find(reinterpret_cast<std::uintptr_t>(hSimConnect));
        if (found == all.connections.end()) return S_OK;
        connection = std::move(found->second);
        all.connections.erase(found);
    }
    // The stand-in logs its answer; the caller always gets success. The
    // connection is freed here, or by a call still running on another thread.
    connection->call(connection->begin_call(Kind::Close));
    return S_OK;
}

SIMCONNECTAPI SimConnect_AddToDataDefinition(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                             const char* DatumName, const char* UnitsName,
                                             SIMCONNECT_DATATYPE DatumType, float fEpsilon, DWORD DatumID) {
    return round_trip(hSimConnect, Kind::AddToDataDefinition, [&](Writer& message) {
        message.u32(DefineID)
            .text(DatumName)
            .text(UnitsName)
            .u32(static_cast<std::uint32_t>(DatumType))
            .f32(fEpsilon)
            .u32(DatumID);
    });
}

SIMCONNECTAPI SimConnect_MapClientEventToSimEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                  const char* EventName) {
    return round_trip(hSimConnect, Kind::MapClientEventToSimEvent,
                      [&](Writer& message) { message.u32(EventID).text(EventName); });
}

SIMCONNECTAPI SimConnect_AddClientEventToNotificationGroup(HANDLE hSimConnect, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                           SIMCONNECT_CLIENT_EVENT_ID EventID, BOOL bMaskable) {
    return round_trip(hSimConnect, Kind::AddClientEventToNotificationGroup, [&](Writer& message) {
        message.u32(GroupID).u32(EventID).i32(static_cast<std::int32_t>(bMaskable));
    });
}

SIMCONNECTAPI SimConnect_SetNotificationGroupPriority(HANDLE hSimConnect, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                      DWORD uPriority) {
    return round_trip(hSimConnect, Kind::SetNotificationGroupPriority,
                      [&](Writer& message) { message.u32(GroupID).u32(uPriority); });
}

SIMCONNECTAPI SimConnect_SubscribeToSystemEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                const char* SystemEventName) {
    return round_trip(hSimConnect, Kind::SubscribeToSystemEvent,
                      [&](Writer& message) { message.u32(EventID).text(SystemEventName); });
}

SIMCONNECTAPI SimConnect_RequestDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID,
                                                SIMCONNECT_PERIOD Period, SIMCONNECT_DATA_REQUEST_FLAG Flags,
                                                DWORD origin, DWORD interval, DWORD limit) {
    return round_trip(hSimConnect, Kind::RequestDataOnSimObject, [&](Writer& message) {
        message.u32(RequestID)
            .u32(DefineID)
            .u32(ObjectID)
            .u32(static_cast<std::uint32_t>(Period))
            .u32(Flags)
            .u32(origin)
            .u32(interval)
            .u32(limit);
    });
}

SIMCONNECTAPI SimConnect_RequestSystemState(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                            const char* szState) {
    return round_trip(hSimConnect, Kind::RequestSystemState,
                      [&](Writer& message) { message.u32(RequestID).text(szState); });
}

SIMCONNECTAPI SimConnect_GetNextDispatch(HANDLE hSimConnect, SIMCONNECT_RECV** ppData, DWORD* pcbData) {
    if (ppData == nullptr) return E_INVALIDARG;
    const std::shared_ptr<Connection> connection = velmar::standin::find(hSimConnect);
    if (!connection) return E_FAIL;
    return connection->next_record(ppData, pcbData) ? S_OK : E_FAIL;
}

SIMCONNECTAPI SimConnect_TransmitClientEvent(HANDLE hSimConnect, SIMCONNECT_OBJECT_ID ObjectID,
                                             SIMCONNECT_CLIENT_EVENT_ID EventID, DWORD dwData,
                                             SIMCONNECT_NOTIFICATION_GROUP_ID GroupID, SIMCONNECT_EVENT_FLAG Flags) {
    return round_trip(hSimConnect, Kind::TransmitClientEvent,
                      [&](Writer& message) { message.u32(ObjectID).u32(EventID).u32(dwData).u32(GroupID).u32(Flags); });
}

SIMCONNECTAPI SimConnect_SetDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                            SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_DATA_SET_FLAG Flags,
                                            DWORD ArrayCount, DWORD cbUnitSize, void* pDataSet) {
    // ArrayCount 0 means one element.
    const std::uint64_t bytes = std::uint64_t{ArrayCount == 0 ? 1u : ArrayCount} * cbUnitSize;
    if (bytes > wire::kMaxDataBytes) return E_INVALIDARG;
    return round_trip(hSimConnect, Kind::SetDataOnSimObject, [&](Writer& message) {
        message.u32(DefineID).u32(ObjectID).u32(Flags).u32(ArrayCount).u32(cbUnitSize);
        if (pDataSet == nullptr) {
            message.flag(false);
        } else {
            message.block(pDataSet, static_cast<std::size_t>(bytes));
        }
    });
}

SIMCONNECTAPI SimConnect_CallDispatch(HANDLE hSimConnect, DispatchProc pfcnDispatch, void* pContext) {
    if (pfcnDispatch == nullptr) return E_INVALIDARG;
    SIMCONNECT_RECV* record = nullptr;
    DWORD size = 0;
    while (SUCCEEDED(SimConnect_GetNextDispatch(hSimConnect, &record, &size))) pfcnDispatch(record, size, pContext);
    return S_OK;
}

SIMCONNECTAPI SimConnect_GetLastSentPacketID(HANDLE hSimConnect, DWORD* pdwError) {
    if (pdwError == nullptr) return E_INVALIDARG;
    const std::shared_ptr<Connection> connection = velmar::standin::find(hSimConnect);
    if (!connection) return E_FAIL;
    *pdwError = connection->last_packet_id();
    return S_OK;
}
