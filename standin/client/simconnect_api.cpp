// The SimConnect functions of the substitute library. Handles are numbers in
// a registry rather than raw pointers, so a call on a closed handle fails
// cleanly, and Close can race other calls on the same handle.

#include <cstdint>
#include <cstring>
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

// A string argument for a 256-byte field: it must fit with its terminating
// zero, since a cut name would name something else.
std::optional<protocol::Text> text(const char* value) {
    if (value == nullptr) return protocol::Text{{}, true};
    const std::size_t length = std::strlen(value);
    if (length >= protocol::kTextBytes) return std::nullopt;
    return protocol::Text{std::string(value, length), false};
}

HRESULT call(HANDLE handle, const protocol::Call& arguments) {
    const std::shared_ptr<Connection> connection = find(handle);
    if (!connection) return E_FAIL;
    return connection->call(arguments);
}

}  // namespace
}  // namespace velmar::standin

using velmar::standin::Connection;
namespace net = velmar::standin::net;
namespace protocol = velmar::standin::protocol;
using velmar::standin::text;

SIMCONNECTAPI SimConnect_Open(HANDLE* phSimConnect, LPCSTR szName, HWND hWnd, DWORD UserEventWin32, HANDLE hEventHandle,
                              DWORD ConfigIndex) {
    if (phSimConnect == nullptr || !text(szName)) return E_INVALIDARG;
    const net::Socket socket = velmar::standin::connect_to_simulator(ConfigIndex, velmar::standin::kConnectTimeout,
                                                                     velmar::standin::kCallTimeout);
    if (socket == net::kNoSocket) return E_FAIL;

    auto connection = std::make_shared<Connection>(socket, reinterpret_cast<std::uintptr_t>(hEventHandle));
    const HRESULT result =
        connection->open({szName, hWnd != nullptr, UserEventWin32, hEventHandle != nullptr, ConfigIndex});
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
    // The caller always gets success. The connection is freed here, or by a
    // call still running on another thread.
    connection->close();
    return S_OK;
}

SIMCONNECTAPI SimConnect_AddToDataDefinition(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                             const char* DatumName, const char* UnitsName,
                                             SIMCONNECT_DATATYPE DatumType, float fEpsilon, DWORD DatumID) {
    const auto datum = text(DatumName);
    const auto units = text(UnitsName);
    if (!datum || !units) return E_INVALIDARG;
    return velmar::standin::call(
        hSimConnect, protocol::AddToDataDefinition{DefineID, *datum, *units, static_cast<std::int32_t>(DatumType),
                                                   fEpsilon, DatumID});
}

SIMCONNECTAPI SimConnect_MapClientEventToSimEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                  const char* EventName) {
    const auto name = text(EventName);
    if (!name) return E_INVALIDARG;
    return velmar::standin::call(hSimConnect, protocol::MapClientEventToSimEvent{EventID, *name});
}

SIMCONNECTAPI SimConnect_AddClientEventToNotificationGroup(HANDLE hSimConnect, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                           SIMCONNECT_CLIENT_EVENT_ID EventID, BOOL bMaskable) {
    return velmar::standin::call(hSimConnect, protocol::AddClientEventToNotificationGroup{
                                                  GroupID, EventID, static_cast<std::int32_t>(bMaskable)});
}

SIMCONNECTAPI SimConnect_SetNotificationGroupPriority(HANDLE hSimConnect, SIMCONNECT_NOTIFICATION_GROUP_ID GroupID,
                                                      DWORD uPriority) {
    return velmar::standin::call(hSimConnect, protocol::SetNotificationGroupPriority{GroupID, uPriority});
}

SIMCONNECTAPI SimConnect_SubscribeToSystemEvent(HANDLE hSimConnect, SIMCONNECT_CLIENT_EVENT_ID EventID,
                                                const char* SystemEventName) {
    const auto name = text(SystemEventName);
    if (!name) return E_INVALIDARG;
    return velmar::standin::call(hSimConnect, protocol::SubscribeToSystemEvent{EventID, *name});
}

SIMCONNECTAPI SimConnect_RequestDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                                SIMCONNECT_DATA_DEFINITION_ID DefineID, SIMCONNECT_OBJECT_ID ObjectID,
                                                SIMCONNECT_PERIOD Period, SIMCONNECT_DATA_REQUEST_FLAG Flags,
                                                DWORD origin, DWORD interval, DWORD limit) {
    return velmar::standin::call(
        hSimConnect, protocol::RequestDataOnSimObject{RequestID, DefineID, ObjectID, static_cast<std::int32_t>(Period),
                                                      Flags, origin, interval, limit});
}

SIMCONNECTAPI SimConnect_RequestSystemState(HANDLE hSimConnect, SIMCONNECT_DATA_REQUEST_ID RequestID,
                                            const char* szState) {
    const auto name = text(szState);
    if (!name) return E_INVALIDARG;
    return velmar::standin::call(hSimConnect, protocol::RequestSystemState{RequestID, *name});
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
    return velmar::standin::call(hSimConnect, protocol::TransmitClientEvent{ObjectID, EventID, dwData, GroupID, Flags});
}

SIMCONNECTAPI SimConnect_SetDataOnSimObject(HANDLE hSimConnect, SIMCONNECT_DATA_DEFINITION_ID DefineID,
                                            SIMCONNECT_OBJECT_ID ObjectID, SIMCONNECT_DATA_SET_FLAG Flags,
                                            DWORD ArrayCount, DWORD cbUnitSize, void* pDataSet) {
    // ArrayCount 0 means one element.
    const std::uint64_t bytes = std::uint64_t{ArrayCount == 0 ? 1u : ArrayCount} * cbUnitSize;
    if (bytes > protocol::kMaxDataBytes) return E_INVALIDARG;
    protocol::Bytes data{{}, pDataSet == nullptr};
    if (pDataSet != nullptr) data.value.assign(static_cast<const char*>(pDataSet), static_cast<std::size_t>(bytes));
    return velmar::standin::call(
        hSimConnect, protocol::SetDataOnSimObject{DefineID, ObjectID, Flags, ArrayCount, cbUnitSize, std::move(data)});
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
