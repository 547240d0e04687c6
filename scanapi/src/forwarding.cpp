// Commands that reach the driver as a single operation: the table gives each
// one's gate, operation, the packet fields it sets and the output it takes.
#include <cstring>

#include "commands.h"
#include "driver_call.h"
#include "ferrox_state.h"
#include "lock.h"

namespace ferrox {

namespace {

enum class Param { Keep, Zero, Value, ValueCapped, Forward33, WordAt30 };
enum class Data { Keep, Caller };
enum class Result { None, OnSuccess, OnSuccessOrResource };

struct Forward {
  uint16_t code;
  Gate gate;
  uint16_t operation;
  Param param;
  Data data;
  Result result;
};

constexpr Forward kForwards[] = {
    {CMD_GET_SCAN_LIMITS, Gate::None, DRV_GET_LIMITS, Param::Value, Data::Caller, Result::None},
    {CMD_FORWARD_11, Gate::Owner, DRV_FORWARD_10, Param::ValueCapped, Data::Keep, Result::None},
    {CMD_FORWARD_12, Gate::Owner, DRV_FORWARD_11, Param::Keep, Data::Keep, Result::None},
    {CMD_FORWARD_13, Gate::Owner, DRV_FORWARD_12, Param::Keep, Data::Keep, Result::None},
    {CMD_FORWARD_14, Gate::Owner, DRV_FORWARD_13, Param::Keep, Data::Keep, Result::None},
    {CMD_FORWARD_21, Gate::None, DRV_FORWARD_18, Param::Value, Data::Caller, Result::None},
    {CMD_FORWARD_25, Gate::None, DRV_FORWARD_30, Param::Value, Data::Caller, Result::None},
    {CMD_FORWARD_26, Gate::None, DRV_FORWARD_31, Param::Keep, Data::Keep, Result::OnSuccess},
    {CMD_FORWARD_27, Gate::None, DRV_FORWARD_32, Param::Zero, Data::Caller, Result::None},
    {CMD_FORWARD_28, Gate::None, DRV_FORWARD_33, Param::Value, Data::Keep, Result::None},
    {CMD_FORWARD_29, Gate::Owner, DRV_FORWARD_34, Param::Value, Data::Caller, Result::None},
    {CMD_FORWARD_31, Gate::None, DRV_FORWARD_42, Param::Zero, Data::Caller, Result::OnSuccess},
    {CMD_FORWARD_32, Gate::OwnerIfLocked, DRV_FORWARD_35, Param::Zero, Data::Caller, Result::None},
    {CMD_FORWARD_33, Gate::OwnerIfLocked, DRV_FORWARD_36, Param::Forward33, Data::Caller,
     Result::OnSuccessOrResource},
    {CMD_FORWARD_34, Gate::Owner, DRV_FORWARD_37, Param::Value, Data::Caller, Result::None},
    {CMD_FORWARD_35, Gate::OwnerIfLocked, DRV_FORWARD_38, Param::Zero, Data::Caller, Result::None},
    {CMD_FORWARD_36, Gate::OwnerIfLocked, DRV_FORWARD_39, Param::Keep, Data::Keep, Result::None},
    {CMD_FORWARD_37, Gate::OwnerIfLocked, DRV_FORWARD_40, Param::Keep, Data::Keep, Result::None},
    {CMD_FORWARD_38, Gate::OwnerIfLocked, DRV_FORWARD_41, Param::Keep, Data::Keep, Result::None},
    {CMD_FORWARD_39, Gate::OwnerIfLocked, DRV_FORWARD_42, Param::Keep, Data::Keep, Result::None},
    {CMD_FORWARD_41, Gate::Prepared, DRV_FORWARD_44, Param::Zero, Data::Caller, Result::None},
    {CMD_CLEAN, Gate::OwnerIfLocked, DRV_CLEAN, Param::Zero, Data::Caller, Result::None},
    {CMD_FORWARD_44, Gate::OwnerIfLocked, DRV_FORWARD_46, Param::Keep, Data::Keep, Result::None},
    {CMD_FORWARD_45, Gate::Owner, DRV_FORWARD_47, Param::WordAt30, Data::Caller, Result::None},
    {CMD_FORWARD_46, Gate::OwnerIfLocked, DRV_FORWARD_48, Param::Keep, Data::Keep, Result::None},
};

const Forward* FindForward(uint16_t code) {
  for (const Forward& entry : kForwards)
    if (entry.code == code) return &entry;
  return nullptr;
}

// The packet's param as the entry says, from its previous value `param`.
// False (status set) when the argument is unusable.
bool ComputeParam(const Forward& entry, ScannerCommand& command, uint32_t& param) {
  switch (entry.param) {
    case Param::Keep:
      return true;
    case Param::Zero:
      param = 0;
      return true;
    case Param::Value:
      param = command.value;
      return true;
    case Param::ValueCapped:
      if (command.value > 3) command.value = 0;  // written back to the caller's record
      param = command.value;
      return true;
    case Param::Forward33:
      // Low 16 bits: valueLow; bits 16-23: the low byte of valueHigh; the top byte stays.
      param = (param & 0xFF000000u) | (command.value & 0x00FFFFFFu);
      return true;
    case Param::WordAt30: {
      if (command.data == nullptr) {
        command.status = SCAN_ERR_PARAM;
        return false;
      }
      uint16_t word;
      std::memcpy(&word, static_cast<const uint8_t*>(command.data) + 30, sizeof(word));
      param = word;
      return true;
    }
  }
  return true;
}

bool SetParam(const Forward& entry, ScannerCommand& command) {
  // The packet is packed: its fields are copied, never bound by reference.
  uint32_t param = Process().request.param;
  if (!ComputeParam(entry, command, param)) return false;
  Process().request.param = param;
  return true;
}

}  // namespace

bool RunForwardedCommand(ScannerCommand& command) {
  const Forward* entry = FindForward(command.code);
  if (entry == nullptr) return false;
  command.status = CheckGate(entry->gate, command);
  if (command.status != SCAN_OK) return true;
  if (!DriverBound()) {
    command.status = SCAN_ERR_NO_DRIVER;
    return true;
  }
  if (!SetParam(*entry, command)) return true;
  if (entry->data == Data::Caller) Process().request.dataAddress = command.data;
  command.status = CallDriver(entry->operation);
  const bool takeResult =
      (entry->result == Result::OnSuccess && command.status == SCAN_OK) ||
      (entry->result == Result::OnSuccessOrResource &&
       (command.status == SCAN_OK || command.status == SCAN_ERR_RESOURCE));
  if (takeResult) command.result = DriverReply();
  return true;
}

}  // namespace ferrox
