// The named properties and values of appointment and meeting items (PSETID_Appointment,
// PSETID_Meeting, PSETID_Common) that the calendar mapping sets, by their MAPI names.
#pragma once

#include <cstdint>

#include "pst/messaging/property_tags.h"

namespace mailfold::mime::calendar {

// PSETID_Meeting {6ED8DA90-450B-101B-98DA-00AA003F1305}
inline constexpr pst::Guid kPsetidMeeting{
    {0x90, 0xDA, 0xD8, 0x6E, 0x0B, 0x45, 0x1B, 0x10, 0x98, 0xDA, 0x00, 0xAA, 0x00, 0x3F, 0x13, 0x05}};

inline pst::NamedPropertyKey appointment(std::uint32_t lid) { return {pst::kPsetidAppointment, lid}; }
inline pst::NamedPropertyKey meeting(std::uint32_t lid) { return {kPsetidMeeting, lid}; }
inline pst::NamedPropertyKey common(std::uint32_t lid) { return {pst::kPsetidCommon, lid}; }

// PSETID_Appointment
inline constexpr std::uint32_t kLidAppointmentSequence = 0x8201;      // int32
inline constexpr std::uint32_t kLidBusyStatus = 0x8205;               // int32
inline constexpr std::uint32_t kLidLocation = 0x8208;                 // string
inline constexpr std::uint32_t kLidAppointmentStartWhole = 0x820D;    // time, UTC
inline constexpr std::uint32_t kLidAppointmentEndWhole = 0x820E;      // time, UTC
inline constexpr std::uint32_t kLidAppointmentDuration = 0x8213;      // int32, minutes
inline constexpr std::uint32_t kLidAppointmentSubType = 0x8215;       // boolean: all-day
inline constexpr std::uint32_t kLidAppointmentRecur = 0x8216;         // binary
inline constexpr std::uint32_t kLidAppointmentStateFlags = 0x8217;    // int32
inline constexpr std::uint32_t kLidResponseStatus = 0x8218;           // int32
inline constexpr std::uint32_t kLidRecurring = 0x8223;                // boolean
inline constexpr std::uint32_t kLidIntendedBusyStatus = 0x8224;       // int32
inline constexpr std::uint32_t kLidRecurrenceType = 0x8231;           // int32
inline constexpr std::uint32_t kLidTimeZoneStruct = 0x8233;           // binary
inline constexpr std::uint32_t kLidTimeZoneDescription = 0x8234;      // string
inline constexpr std::uint32_t kLidClipStart = 0x8235;                // time
inline constexpr std::uint32_t kLidClipEnd = 0x8236;                  // time
inline constexpr std::uint32_t kLidAllAttendeesString = 0x8238;       // string
inline constexpr std::uint32_t kLidToAttendeesString = 0x823B;        // string
inline constexpr std::uint32_t kLidCcAttendeesString = 0x823C;        // string
inline constexpr std::uint32_t kLidTimeZoneDefinitionStartDisplay = 0x825E;  // binary
inline constexpr std::uint32_t kLidTimeZoneDefinitionEndDisplay = 0x825F;    // binary
inline constexpr std::uint32_t kLidTimeZoneDefinitionRecur = 0x8260;         // binary

// PSETID_Meeting
inline constexpr std::uint32_t kLidWhere = 0x0002;                // string
inline constexpr std::uint32_t kLidGlobalObjectId = 0x0003;       // binary
inline constexpr std::uint32_t kLidIsRecurring = 0x0005;          // boolean
inline constexpr std::uint32_t kLidCleanGlobalObjectId = 0x0023;  // binary
inline constexpr std::uint32_t kLidMeetingType = 0x0026;          // int32

// PSETID_Common
inline constexpr std::uint32_t kLidCommonStart = 0x8516;  // time
inline constexpr std::uint32_t kLidCommonEnd = 0x8517;    // time

// PidTagStartDate / PidTagEndDate: the item's start and end, shown in list views.
inline constexpr pst::PropTag kPrStartDate = pst::makeTag(0x0060, pst::kPtSysTime);
inline constexpr pst::PropTag kPrEndDate = pst::makeTag(0x0061, pst::kPtSysTime);

inline constexpr const char* kClassAppointment = "IPM.Appointment";
inline constexpr const char* kClassMeetingRequest = "IPM.Schedule.Meeting.Request";
inline constexpr const char* kClassMeetingCanceled = "IPM.Schedule.Meeting.Canceled";
inline constexpr const char* kClassResponseAccepted = "IPM.Schedule.Meeting.Resp.Pos";
inline constexpr const char* kClassResponseTentative = "IPM.Schedule.Meeting.Resp.Tent";
inline constexpr const char* kClassResponseDeclined = "IPM.Schedule.Meeting.Resp.Neg";

// PidLidBusyStatus and PidLidIntendedBusyStatus values.
inline constexpr std::int32_t kBusyFree = 0;
inline constexpr std::int32_t kBusyTentative = 1;
inline constexpr std::int32_t kBusyBusy = 2;
inline constexpr std::int32_t kBusyOutOfOffice = 3;
inline constexpr std::int32_t kBusyWorkingElsewhere = 4;

// PidLidAppointmentStateFlags bits.
inline constexpr std::int32_t kStateMeeting = 0x1;
inline constexpr std::int32_t kStateReceived = 0x2;
inline constexpr std::int32_t kStateCanceled = 0x4;

// PidLidResponseStatus values.
inline constexpr std::int32_t kResponseNone = 0;
inline constexpr std::int32_t kResponseNotResponded = 5;

// PidLidMeetingType values.
inline constexpr std::int32_t kMeetingTypeNew = 0x1;
inline constexpr std::int32_t kMeetingTypeFullUpdate = 0x10000;

// Recipient rows: PidTagRecipientFlags for the organizer, PidTagRecipientTrackStatus values.
inline constexpr std::int32_t kRecipientFlagOrganizer = 0x2;
inline constexpr std::int32_t kTrackNone = 0;
inline constexpr std::int32_t kTrackTentative = 2;
inline constexpr std::int32_t kTrackAccepted = 3;
inline constexpr std::int32_t kTrackDeclined = 4;

}  // namespace mailfold::mime::calendar
