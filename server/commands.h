// Command numbers and limits of the messenger server: what clients send on their main connection,
// what they send on one-shot home-server connections, and what the server sends back.
#pragma once
#include <cstdint>

namespace srv {

// Client requests on the main connection.
constexpr int kCmdLogin = 130;
constexpr int kCmdSignOut = 133;
constexpr int kCmdGetGroups = 160;
constexpr int kCmdGetContacts = 170;
constexpr int kCmdLocalAddress = 180;
constexpr int kCmdRegister = 250;
constexpr int kCmdSearchContact = 260;
constexpr int kCmdAddContact = 280;
constexpr int kCmdAddConfirmYes = 284;
constexpr int kCmdAddConfirmNo = 285;
constexpr int kCmdRemoveContact = 290;
constexpr int kCmdRemoveConfirmYes = 293;
constexpr int kCmdRemoveConfirmNo = 294;
constexpr int kCmdMoveContact = 300;
constexpr int kCmdAddGroup = 310;
constexpr int kCmdRenameGroup = 313;
constexpr int kCmdRemoveGroup = 316;
constexpr int kCmdOfflineCheck = 340;
constexpr int kCmdOfflineFetch = 343;
constexpr int kCmdOfflineDelete = 348;
constexpr int kCmdSetPresence = 360;
constexpr int kCmdSpeedStart = 440;
constexpr int kCmdSpeedData = 441;
constexpr int kCmdSpeedEnd = 442;
constexpr int kCmdSpeedResult = 450;
constexpr int kCmdRelayTraffic = 451;
constexpr int kCmdRelayConnections = 452;
constexpr int kCmdRelayPort80 = 420;  // the client's relay listens; board_num: its port if not 80
constexpr int kCmdRelayPort443 = 421;
constexpr int kCmdRelayPort8199 = 422;
constexpr int kCmdSlaveServerRequest = 460;
constexpr int kCmdKeepAlive = 1000;

// Client requests on one-shot connections to a contact's home server.
constexpr int kCmdQueryOnline = 185;
constexpr int kCmdOfflineBegin = 330;
constexpr int kCmdOfflinePart = 331;
constexpr int kCmdOfflineEnd = 332;
constexpr int kCmdStatusToContact = 400;
constexpr int kCmdConnectBack = 380;
constexpr int kCmdSlaveRouteRequest = 480;  // "%10d:%10d:" target, requester
constexpr int kCmdSlaveRouteA = 481;        // "%10d:%10d:" target, sender, then the route text
constexpr int kCmdSlaveRouteB = 482;

// Server replies and pushes.
constexpr int kRepLoginOk = 131;
constexpr int kRepConnectToPeer = 381;
constexpr int kRepLoginFailed = 132;
constexpr int kRepSessionId = 150;
constexpr int kRepUserId = 151;
constexpr int kRepOnlineIndex = 152;
constexpr int kRepName1 = 153;
constexpr int kRepName2 = 154;
constexpr int kRepName3 = 155;
constexpr int kRepGroupsBegin = 161;
constexpr int kRepGroup = 162;
constexpr int kRepGroupsEnd = 163;
constexpr int kRepContactsBegin = 171;
constexpr int kRepContact = 172;
constexpr int kRepContactsEnd = 173;
constexpr int kRepContactHomeServer = 174;
constexpr int kRepContactExtra = 175;
constexpr int kRepContactFirstName = 176;
constexpr int kRepContactLastName = 177;
constexpr int kRepContactEmail = 178;
constexpr int kRepContactRelation = 179;
constexpr int kRepOnlineState = 186;
constexpr int kRepOnlineAddress = 187;
constexpr int kRepOnlineEnd = 188;
constexpr int kRepRegisterOk = 251;
constexpr int kRepRegisterFailed = 252;
constexpr int kRepRegisterEmailExists = 253;
constexpr int kRepFoundId = 261;
constexpr int kRepFoundFirstName = 262;
constexpr int kRepFoundLastName = 263;
constexpr int kRepFoundNick = 264;
constexpr int kRepFoundEmail = 265;
constexpr int kRepSearchFailed = 266;
constexpr int kRepSearchNotFound = 267;
constexpr int kRepAddOk = 281;
constexpr int kRepAddFailed = 282;
constexpr int kRepAddExists = 283;
constexpr int kRepAddConfirmOk = 286;
constexpr int kRepAddConfirmRefused = 287;
constexpr int kRepRemoveOk = 291;
constexpr int kRepRemoveFailed = 292;
constexpr int kRepRemoveConfirmOk = 295;
constexpr int kRepRemoveConfirmKept = 296;
constexpr int kRepGroupAddOk = 311;
constexpr int kRepGroupAddFailed = 312;
constexpr int kRepGroupRenameOk = 314;
constexpr int kRepGroupRenameFailed = 315;
constexpr int kRepGroupRemoveOk = 317;
constexpr int kRepGroupRemoveFailed = 318;
constexpr int kRepOfflineWaiting = 341;
constexpr int kRepOfflineMsgBegin = 345;
constexpr int kRepOfflineMsgChunk = 346;
constexpr int kRepOfflineMsgEnd = 347;
constexpr int kRepPresence = 361;
constexpr int kRepLoggedInElsewhere = 390;
constexpr int kRepStatusNotify = 401;
constexpr int kRepSpeedBegin = 443;
constexpr int kRepSpeedEnd = 445;
constexpr int kRepRelayAck80 = 430;  // 431, 432 for the second and third port
constexpr int kRepSlave1Address = 462;
constexpr int kRepSlave1Port1 = 463;  // 464, 465: port in board_num
constexpr int kRepSlave2Address = 466;
constexpr int kRepSlave2Port1 = 467;  // 468, 469
constexpr int kRepSlaveConnect = 470;
constexpr int kRepRelayedDatagram = 2000;
constexpr int kRepNotice = 998;
constexpr int kRepNotice2 = 999;

// Relation states of one user towards a contact.
constexpr int kRelAdded = 3;          // both sides agreed, or this user added the contact
constexpr int kRelAskedToAdd = 4;     // the contact added this user; awaiting an answer
constexpr int kRelAskedToRemove = 6;  // the contact removed this user; awaiting an answer
constexpr int kRelRemoveDeclined = 7;

// Presence states.
constexpr int kPresenceOffline = 0;
constexpr int kPresenceOnline = 1;
constexpr int kPresenceAppearOffline = 7;
constexpr int kPresenceMax = 7;

// Limits that mirror the client's tables and fields.
constexpr int kMaxContacts = 100;  // contact table of a client
constexpr int kMaxGroups = 50;     // group table of a client
constexpr int kGroupNameMax = 31;
constexpr int kEmailMax = 126;         // the sign-in dialog cuts the e-mail to this
constexpr int kLoginPasswordMax = 31;  // the sign-in dialog cuts the password to this
constexpr int kRegisterRecordLen = 512;
constexpr int kOfflineChunk = 2047;     // client's chunk buffer for 346
constexpr int kOfflineMaxText = 32768;  // one stored offline message (header, text and marker)
constexpr int kNoticeMax = 1023;        // client's pop-up text buffer
constexpr int kAddressMax = 49;         // client's local address text
constexpr int kMaxWriteQueueBytes = 4 * 1024 * 1024;  // a reader slower than this is dropped
// What a connection may queue while its password is checked; more closes it.
constexpr int kMaxQueuedBeforeSignIn = 64;
constexpr int kMaxQueuedBytesBeforeSignIn = 64 * 1024;
// Password checks that may run at once for one source address (more wait their turn) and for
// one account (more are refused), so that a flood of guesses cannot keep the hashing threads
// from real users.
constexpr int kMaxChecksPerAddress = 1;  // less than the hashing threads (2 by default)
constexpr int kMaxChecksPerAccount = 4;
// Offline messages kept for one recipient: more are refused until some are read.
constexpr int kOfflineQuotaMessages = 1000;
constexpr int64_t kOfflineQuotaBytes = 10 * 1024 * 1024;
constexpr int kDatagramOuterLen = 46;                 // "%12d:%10d:%10d:%10d:"
constexpr int kDatagramMax = 1024;                    // clients cut a datagram to this
constexpr int kDefaultIdleSeconds = 90;  // main connections send a keep-alive every 5 s
constexpr int kRelayPorts[3] = {80, 443, 8199};  // default ports of a client's relay server
constexpr int kRelayProbeMs = 3000;              // connect attempt that confirms a relay port
constexpr int kMaxBoardPort = 9999;  // a port travels in the 4-digit board_num of the header
constexpr int kSlaveAddressMax = 127;            // client's slave-server address field
constexpr int kRouteTextMax = 1000;              // client's text limit towards a home server
// Built-in relay: outer header, payload cap and idle limit (clients register every 10 s).
constexpr int kOuterHeaderLen = 46;
constexpr int kOuterPayloadCap = 2000;
constexpr int kRelayBadHeaderDrop = 2048;
constexpr int kRelayIdleSeconds = 70;
constexpr int kRelayMaxConnections = 1000;  // main connections send a keep-alive every 5 s

}  // namespace srv
