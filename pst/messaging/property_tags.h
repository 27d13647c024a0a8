// Named constants for the MAPI property tags and property-set GUIDs a mail item carries.
//
// Tags are `id << 16 | type` (see makeTag in message_model.h). Strings are Unicode
// (kPtUnicode): a Unicode store holds no 8-bit strings. Group related tags together and keep
// the MAPI name in the constant so that a reader can look it up.
#pragma once

#include <cstdint>

#include "pst/messaging/message_model.h"

namespace mailfold::pst {

// ---- Message: class, flags, size, times ----
inline constexpr PropTag kPrMessageClass = makeTag(0x001A, kPtUnicode);
inline constexpr PropTag kPrMessageFlags = makeTag(0x0E07, kPtInt32);
inline constexpr PropTag kPrMessageSize = makeTag(0x0E08, kPtInt32);
inline constexpr PropTag kPrMessageStatus = makeTag(0x0E17, kPtInt32);
inline constexpr PropTag kPrHasAttach = makeTag(0x0E1B, kPtBoolean);
inline constexpr PropTag kPrCreationTime = makeTag(0x3007, kPtSysTime);
inline constexpr PropTag kPrLastModificationTime = makeTag(0x3008, kPtSysTime);
inline constexpr PropTag kPrClientSubmitTime = makeTag(0x0039, kPtSysTime);
inline constexpr PropTag kPrMessageDeliveryTime = makeTag(0x0E06, kPtSysTime);
inline constexpr PropTag kPrSearchKey = makeTag(0x300B, kPtBinary);
inline constexpr PropTag kPrReplyTime = makeTag(0x0030, kPtSysTime);

// PR_MESSAGE_FLAGS bits.
inline constexpr std::int32_t kMsgFlagRead = 0x0001;
inline constexpr std::int32_t kMsgFlagUnmodified = 0x0002;
inline constexpr std::int32_t kMsgFlagSubmitted = 0x0004;
inline constexpr std::int32_t kMsgFlagUnsent = 0x0008;
inline constexpr std::int32_t kMsgFlagHasAttach = 0x0010;
inline constexpr std::int32_t kMsgFlagFromMe = 0x0020;
inline constexpr std::int32_t kMsgFlagOriginInternet = 0x2000;

// ---- Message: subject and conversation ----
inline constexpr PropTag kPrSubject = makeTag(0x0037, kPtUnicode);
inline constexpr PropTag kPrSubjectPrefix = makeTag(0x003D, kPtUnicode);
inline constexpr PropTag kPrNormalizedSubject = makeTag(0x0E1D, kPtUnicode);
inline constexpr PropTag kPrConversationTopic = makeTag(0x0070, kPtUnicode);
inline constexpr PropTag kPrConversationIndex = makeTag(0x0071, kPtBinary);
// True: Outlook takes the conversation id from the GUID of PR_CONVERSATION_INDEX; false or
// absent: from a hash of the conversation topic, which joins unrelated mail of equal subject.
inline constexpr PropTag kPrConversationIndexTracking = makeTag(0x3016, kPtBoolean);

// ---- Message: importance, priority, sensitivity ----
inline constexpr PropTag kPrImportance = makeTag(0x0017, kPtInt32);
inline constexpr PropTag kPrPriority = makeTag(0x0026, kPtInt32);
inline constexpr PropTag kPrSensitivity = makeTag(0x0036, kPtInt32);
inline constexpr std::int32_t kImportanceLow = 0;
inline constexpr std::int32_t kImportanceNormal = 1;
inline constexpr std::int32_t kImportanceHigh = 2;
inline constexpr PropTag kPrReadReceiptRequested = makeTag(0x0029, kPtBoolean);

// ---- Message: internet identity ----
inline constexpr PropTag kPrInternetMessageId = makeTag(0x1035, kPtUnicode);
inline constexpr PropTag kPrInReplyToId = makeTag(0x1042, kPtUnicode);
inline constexpr PropTag kPrInternetReferences = makeTag(0x1039, kPtUnicode);
inline constexpr PropTag kPrTransportMessageHeaders = makeTag(0x007D, kPtUnicode);
inline constexpr PropTag kPrInternetCodepage = makeTag(0x3FDE, kPtInt32);
inline constexpr PropTag kPrMessageCodepage = makeTag(0x3FFD, kPtInt32);
inline constexpr PropTag kPrMessageLocaleId = makeTag(0x3FF1, kPtInt32);
// What an English-language Outlook writes into the two above.
inline constexpr std::int32_t kLocaleEnglishUs = 1033;
inline constexpr std::int32_t kCodePageWestern = 1252;

// ---- Message: the mailbox it was delivered to (received-by) and for (received-representing) ----
inline constexpr PropTag kPrReceivedByEntryId = makeTag(0x003F, kPtBinary);
inline constexpr PropTag kPrReceivedByName = makeTag(0x0040, kPtUnicode);
inline constexpr PropTag kPrReceivedBySearchKey = makeTag(0x0051, kPtBinary);
inline constexpr PropTag kPrReceivedByAddrType = makeTag(0x0075, kPtUnicode);
inline constexpr PropTag kPrReceivedByEmailAddress = makeTag(0x0076, kPtUnicode);
inline constexpr PropTag kPrRcvdRepresentingEntryId = makeTag(0x0043, kPtBinary);
inline constexpr PropTag kPrRcvdRepresentingName = makeTag(0x0044, kPtUnicode);
inline constexpr PropTag kPrRcvdRepresentingSearchKey = makeTag(0x0052, kPtBinary);
inline constexpr PropTag kPrRcvdRepresentingAddrType = makeTag(0x0077, kPtUnicode);
inline constexpr PropTag kPrRcvdRepresentingEmailAddress = makeTag(0x0078, kPtUnicode);
// The received-by mailbox is among the To (Cc) recipients.
inline constexpr PropTag kPrMessageToMe = makeTag(0x0057, kPtBoolean);
inline constexpr PropTag kPrMessageCcMe = makeTag(0x0058, kPtBoolean);

// ---- Message: sender (Sender header) and sent-representing (From header) ----
inline constexpr PropTag kPrSenderName = makeTag(0x0C1A, kPtUnicode);
inline constexpr PropTag kPrSenderAddrType = makeTag(0x0C1E, kPtUnicode);
inline constexpr PropTag kPrSenderEmailAddress = makeTag(0x0C1F, kPtUnicode);
inline constexpr PropTag kPrSenderEntryId = makeTag(0x0C19, kPtBinary);
inline constexpr PropTag kPrSenderSearchKey = makeTag(0x0C1D, kPtBinary);
inline constexpr PropTag kPrSenderSmtpAddress = makeTag(0x5D01, kPtUnicode);
inline constexpr PropTag kPrSentRepresentingName = makeTag(0x0042, kPtUnicode);
inline constexpr PropTag kPrSentRepresentingAddrType = makeTag(0x0064, kPtUnicode);
inline constexpr PropTag kPrSentRepresentingEmailAddress = makeTag(0x0065, kPtUnicode);
inline constexpr PropTag kPrSentRepresentingEntryId = makeTag(0x0041, kPtBinary);
inline constexpr PropTag kPrSentRepresentingSearchKey = makeTag(0x003B, kPtBinary);
inline constexpr PropTag kPrSentRepresentingSmtpAddress = makeTag(0x5D02, kPtUnicode);

// ---- Message: recipient summaries and Reply-To ----
inline constexpr PropTag kPrDisplayTo = makeTag(0x0E04, kPtUnicode);
inline constexpr PropTag kPrDisplayCc = makeTag(0x0E03, kPtUnicode);
inline constexpr PropTag kPrDisplayBcc = makeTag(0x0E02, kPtUnicode);
inline constexpr PropTag kPrReplyRecipientEntries = makeTag(0x004F, kPtBinary);
inline constexpr PropTag kPrReplyRecipientNames = makeTag(0x0050, kPtUnicode);

// ---- Message: bodies ----
// PR_PST_BODY_PREFIX: the start of the plain body (kBodyPrefixUnits UTF-16 units), which the
// store keeps beside every body.
inline constexpr PropTag kPrPstBodyPrefix = makeTag(0x6619, kPtUnicode);
inline constexpr std::size_t kBodyPrefixUnits = 255;
inline constexpr PropTag kPrBody = makeTag(0x1000, kPtUnicode);
inline constexpr PropTag kPrHtml = makeTag(0x1013, kPtBinary);
inline constexpr PropTag kPrNativeBody = makeTag(0x1016, kPtInt32);
inline constexpr PropTag kPrRtfInSync = makeTag(0x0E1F, kPtBoolean);
// PR_RTF_COMPRESSED: the RTF body, compressed as RTF readers expect it in a store.
inline constexpr PropTag kPrRtfCompressed = makeTag(0x1009, kPtBinary);
inline constexpr std::int32_t kNativeBodyPlain = 1;
inline constexpr std::int32_t kNativeBodyRtf = 2;
inline constexpr std::int32_t kNativeBodyHtml = 3;
inline constexpr std::int32_t kNativeBodyClearSigned = 4;

// ---- Recipient rows ----
inline constexpr PropTag kPrRecipientType = makeTag(0x0C15, kPtInt32);
inline constexpr PropTag kPrDisplayName = makeTag(0x3001, kPtUnicode);
inline constexpr PropTag kPrAddrType = makeTag(0x3002, kPtUnicode);
inline constexpr PropTag kPrEmailAddress = makeTag(0x3003, kPtUnicode);
inline constexpr PropTag kPrSmtpAddress = makeTag(0x39FE, kPtUnicode);
inline constexpr PropTag kPrEntryId = makeTag(0x0FFF, kPtBinary);
inline constexpr PropTag kPrRecordKey = makeTag(0x0FF9, kPtBinary);
inline constexpr PropTag kPrObjectType = makeTag(0x0FFE, kPtInt32);
inline constexpr PropTag kPrDisplayType = makeTag(0x3900, kPtInt32);
inline constexpr PropTag kPrResponsibility = makeTag(0x0E0F, kPtBoolean);
inline constexpr PropTag kPrSendRichInfo = makeTag(0x3A40, kPtBoolean);
inline constexpr PropTag kPr7BitDisplayName = makeTag(0x39FF, kPtUnicode);
inline constexpr PropTag kPrTransmittableDisplayName = makeTag(0x3A20, kPtUnicode);
inline constexpr PropTag kPrRecipientFlags = makeTag(0x5FFD, kPtInt32);
inline constexpr PropTag kPrRecipientTrackStatus = makeTag(0x5FFF, kPtInt32);
inline constexpr PropTag kPrRecipientDisplayName = makeTag(0x5FF6, kPtUnicode);
inline constexpr PropTag kPrRecipientEntryId = makeTag(0x5FF7, kPtBinary);
inline constexpr std::int32_t kRecipientTo = 1;
inline constexpr std::int32_t kRecipientCc = 2;
inline constexpr std::int32_t kRecipientBcc = 3;
inline constexpr std::int32_t kRecipientFlagSendable = 0x1;
inline constexpr std::int32_t kObjectTypeMailUser = 6;

// ---- Attachments ----
inline constexpr PropTag kPrAttachMethod = makeTag(0x3705, kPtInt32);
inline constexpr PropTag kPrAttachDataBin = makeTag(0x3701, kPtBinary);
inline constexpr PropTag kPrAttachDataObject = makeTag(0x3701, kPtObject);
inline constexpr PropTag kPrAttachFilename = makeTag(0x3704, kPtUnicode);
inline constexpr PropTag kPrAttachLongFilename = makeTag(0x3707, kPtUnicode);
inline constexpr PropTag kPrAttachExtension = makeTag(0x3703, kPtUnicode);
inline constexpr PropTag kPrAttachMimeTag = makeTag(0x370E, kPtUnicode);
inline constexpr PropTag kPrAttachSize = makeTag(0x0E20, kPtInt32);
inline constexpr PropTag kPrRenderingPosition = makeTag(0x370B, kPtInt32);
inline constexpr PropTag kPrAttachContentId = makeTag(0x3712, kPtUnicode);
inline constexpr PropTag kPrAttachContentLocation = makeTag(0x3713, kPtUnicode);
inline constexpr PropTag kPrAttachFlags = makeTag(0x3714, kPtInt32);
inline constexpr PropTag kPrAttachmentHidden = makeTag(0x7FFE, kPtBoolean);
inline constexpr std::int32_t kAttachByValue = 1;
inline constexpr std::int32_t kAttachEmbeddedMessage = 5;
inline constexpr std::int32_t kAttachFlagInvisibleInHtml = 0x1;
inline constexpr std::int32_t kAttachFlagInvisibleInRtf = 0x2;
inline constexpr std::int32_t kAttachFlagRenderedInBody = 0x4;
inline constexpr std::int32_t kRenderingPositionHidden = -1;  // 0xFFFFFFFF: not rendered in the body

// ---- Reports (delivery, non-delivery and read reports) ----
inline constexpr PropTag kPrOriginalSubject = makeTag(0x0049, kPtUnicode);
inline constexpr PropTag kPrOriginalSubmitTime = makeTag(0x004E, kPtSysTime);
inline constexpr PropTag kPrOriginalDisplayTo = makeTag(0x0074, kPtUnicode);
inline constexpr PropTag kPrOriginalDisplayCc = makeTag(0x0073, kPtUnicode);
inline constexpr PropTag kPrOriginalMessageId = makeTag(0x1046, kPtUnicode);
inline constexpr PropTag kPrReportTime = makeTag(0x0032, kPtSysTime);
inline constexpr PropTag kPrReportingMta = makeTag(0x6820, kPtUnicode);
inline constexpr PropTag kPrReportDisposition = makeTag(0x0080, kPtUnicode);
inline constexpr PropTag kPrReportDispositionMode = makeTag(0x0081, kPtUnicode);
// On the recipient rows of a report.
inline constexpr PropTag kPrSupplementaryInfo = makeTag(0x0C1B, kPtUnicode);
inline constexpr PropTag kPrRemoteMta = makeTag(0x0C21, kPtUnicode);
inline constexpr PropTag kPrDeliverTime = makeTag(0x0010, kPtSysTime);
inline constexpr PropTag kPrNdrStatusCode = makeTag(0x0C20, kPtInt32);

// ---- Message classes ----
inline constexpr const char* kClassNote = "IPM.Note";
inline constexpr const char* kClassSmime = "IPM.Note.SMIME";
inline constexpr const char* kClassSmimeMultipartSigned = "IPM.Note.SMIME.MultipartSigned";

// ---- Property sets (GUIDs in stored byte order: Data1..Data3 little-endian, then Data4) ----
// PS_INTERNET_HEADERS {00020386-0000-0000-C000-000000000046}
inline constexpr Guid kPsInternetHeaders{
    {0x86, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// PS_PUBLIC_STRINGS {00020329-0000-0000-C000-000000000046}
inline constexpr Guid kPsPublicStrings{
    {0x29, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// PS_MAPI {00020328-0000-0000-C000-000000000046}
inline constexpr Guid kPsMapi{
    {0x28, 0x03, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// PSETID_Common {00062008-0000-0000-C000-000000000046}
inline constexpr Guid kPsetidCommon{
    {0x08, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// PSETID_Address {00062004-0000-0000-C000-000000000046}
inline constexpr Guid kPsetidAddress{
    {0x04, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// PSETID_Appointment {00062002-0000-0000-C000-000000000046}
inline constexpr Guid kPsetidAppointment{
    {0x02, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
// PSETID_Task {00062003-0000-0000-C000-000000000046}
inline constexpr Guid kPsetidTask{
    {0x03, 0x20, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

// Named properties the importer sets (string names in PS_INTERNET_HEADERS).
inline constexpr const char* kNameContentClass = "content-class";
// PidLidSmartNoAttach (PSETID_Common, LID 0x8514, boolean): true hides the paperclip of a
// message whose attachment table is not empty, when every attachment is hidden.
inline const NamedPropertyKey kSmartNoAttach{kPsetidCommon, std::uint32_t{0x8514}};

// Provider UID of one-off entry identifiers (MUIDOOP), 81 2B 1F A4 BE A3 10 19 9D 6E 00 DD 01 0F 54 02.
inline constexpr std::uint8_t kOneOffProviderUid[16] = {0x81, 0x2B, 0x1F, 0xA4, 0xBE, 0xA3, 0x10, 0x19,
                                                        0x9D, 0x6E, 0x00, 0xDD, 0x01, 0x0F, 0x54, 0x02};

}  // namespace mailfold::pst
