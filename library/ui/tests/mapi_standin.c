/* A stand-in for the system's simple mail interface: MAPISendMail records the
   message it is given (and the state of the owner window during the call)
   instead of handing it to a mail program, and answers the result the test
   chose. */
#include <windows.h>
#include <mapi.h>
#include <string.h>

typedef struct StandInRecord {
  int calls;
  ULONG_PTR owner;
  ULONG flags;
  BOOL ownerEnabled;
  BOOL ownerCaptures;
  char subject[512];
  ULONG recipients;
  ULONG recipientClass;
  char recipientName[512];
  char recipientAddress[512];
  ULONG files;
  ULONG position;
  char path[512];
  char fileName[512];
} StandInRecord;

static StandInRecord record;
static ULONG answer;

static void Copy(char* to, const char* from) {
  to[0] = 0;
  if (from) lstrcpynA(to, from, 512);
}

__declspec(dllexport) ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR owner, lpMapiMessage message, FLAGS flags, ULONG reserved) {
  (void)session;
  (void)reserved;
  record.calls++;
  record.owner = owner;
  record.flags = flags;
  record.ownerEnabled = owner ? IsWindowEnabled((HWND)owner) : FALSE;
  record.ownerCaptures = owner && GetCapture() == (HWND)owner;
  Copy(record.subject, message->lpszSubject);
  record.recipients = message->nRecipCount;
  if (message->nRecipCount) {
    record.recipientClass = message->lpRecips[0].ulRecipClass;
    Copy(record.recipientName, message->lpRecips[0].lpszName);
    Copy(record.recipientAddress, message->lpRecips[0].lpszAddress);
  }
  record.files = message->nFileCount;
  if (message->nFileCount) {
    record.position = message->lpFiles[0].nPosition;
    Copy(record.path, message->lpFiles[0].lpszPathName);
    Copy(record.fileName, message->lpFiles[0].lpszFileName);
  }
  return answer;
}

__declspec(dllexport) const StandInRecord* WINAPI StandIn_Record(void) { return &record; }

__declspec(dllexport) void WINAPI StandIn_Reset(ULONG result) {
  memset(&record, 0, sizeof record);
  answer = result;
}
