Attribute VB_Name = "Tarvex"
' tarvex for VB6 and VBA in 32-bit Office: every entry point of tarvex.h as a
' Declare statement for the win32 tarvex.dll. Import this module into the
' project (VB6: Project > Add Module; the VBA editor: File > Import File);
' docs/HOSTS.md shows a complete host.
'
' - Long is the 32-bit integer of every count, limit, baud and held port. A
'   limit or baud above 2147483647 goes as the negative Long with the same
'   bits; a failed com_init returns TARVEX_INVALID_PORT (-1).
' - A byte array goes ByRef as its first element, frame(0): size it as
'   tarvex.h says (a frame of n bytes needs n + 1, a reply of N bytes N + 1),
'   since the library writes checksums and replies into it.
' - ByVal ... As String passes an 8-bit, NUL-terminated copy and copies back
'   what the library wrote: give getdata_hex's replyText 2 * (N + 1)
'   characters first, String$(2 * (N + 1), "0").
' - Err.LastDllError holds the system's reason after a failed call.
' - The DLL must lie beside the program (or the Office document's host), in
'   the system's search path, or be named by its full path in Lib.
' - VBA in 64-bit Office needs the win64 DLL and Declare PtrSafe Function;
'   the arguments stay Long.
' - The legacy build has ten of these entry points; calling any other raises
'   error 453 (no such entry point).
Option Explicit

Public Const TARVEX_OK As Long = 0
Public Const TARVEX_LOCK_REJECTED As Long = 1
Public Const TARVEX_FRAME_NOT_SENT As Long = 2
Public Const TARVEX_REPLY_INCOMPLETE As Long = 3
Public Const TARVEX_REPLY_WRONG As Long = 4
Public Const TARVEX_SECOND_FRAME_NOT_SENT As Long = 5
Public Const TARVEX_EMPTY_OR_NOT_DRAINED As Long = 6
Public Const TARVEX_SECOND_REPLY_INCOMPLETE As Long = 7
Public Const TARVEX_SECOND_REPLY_WRONG As Long = 8
Public Const TARVEX_INVALID_PORT As Long = -1

' ---- Held ports ----
Public Declare Function com_init Lib "tarvex.dll" (ByVal portName As String, _
    ByVal baud As Long) As Long
Public Declare Function com_exit Lib "tarvex.dll" (ByVal port As Long) As Long

' ---- Request and reply ----
Public Declare Function getdata Lib "tarvex.dll" (ByVal n As Long, ByRef frame As Byte, _
    ByVal replyLength As Long, ByRef reply As Byte, ByVal portName As String) As Long
Public Declare Function nGetData Lib "tarvex.dll" (ByVal n As Long, ByRef frame As Byte, _
    ByVal replyLength As Long, ByRef reply As Byte, ByVal portName As String, _
    ByVal baud As Long, ByVal limitMs As Long) As Long
Public Declare Function dxGetdata Lib "tarvex.dll" (ByVal n As Long, ByRef frame As Byte, _
    ByVal replyLength As Long, ByRef reply As Byte, ByVal portName As String) As Long
Public Declare Function Nget Lib "tarvex.dll" (ByVal n As Long, ByRef frame As Byte, _
    ByVal replyLength As Long, ByRef reply As Byte, ByVal port As Long) As Long
Public Declare Function HANDLE_GetData Lib "tarvex.dll" (ByVal port As Long, ByVal n As Long, _
    ByRef frame As Byte, ByVal replyLength As Long, ByRef reply As Byte, _
    ByVal limitMs As Long) As Long

' ---- Command with data block ----
Public Declare Function senddata Lib "tarvex.dll" (ByVal n As Long, ByRef frame As Byte, _
    ByVal m As Long, ByRef block As Byte, ByVal portName As String) As Long
Public Declare Function nSendData Lib "tarvex.dll" (ByVal n As Long, ByRef frame As Byte, _
    ByVal m As Long, ByRef block As Byte, ByVal portName As String, ByVal baud As Long, _
    ByVal limitMs As Long) As Long
Public Declare Function dxSenddata Lib "tarvex.dll" (ByVal n As Long, ByRef frame As Byte, _
    ByVal m As Long, ByRef block As Byte, ByVal portName As String) As Long
Public Declare Function Nsend Lib "tarvex.dll" (ByVal n As Long, ByRef frame As Byte, _
    ByVal m As Long, ByRef block As Byte, ByVal port As Long) As Long
Public Declare Function HANDLE_SendData Lib "tarvex.dll" (ByVal port As Long, ByVal n As Long, _
    ByRef frame As Byte, ByVal m As Long, ByRef block As Byte, ByVal limitMs As Long) As Long
Public Declare Function sendDataUIM Lib "tarvex.dll" (ByVal port As Long, ByVal n As Long, _
    ByRef frame As Byte, ByVal m As Long, ByRef block As Byte, ByVal limitMs As Long) As Long

' ---- Hex text ----
Public Declare Function getdata_hex Lib "tarvex.dll" (ByVal n As Long, _
    ByVal commandText As String, ByVal replyLength As Long, ByVal replyText As String, _
    ByVal portName As String) As Long
Public Declare Function senddata_hex Lib "tarvex.dll" (ByVal n As Long, _
    ByVal commandText As String, ByVal blockLength As Long, ByVal blockText As String, _
    ByVal portName As String) As Long

' ---- Blacklist download ----
Public Declare Function sendBlack Lib "tarvex.dll" (ByVal address As Long, _
    ByVal count As Long, ByRef entries As Byte, ByVal portName As String) As Long
Public Declare Function sendBlack_hex Lib "tarvex.dll" (ByVal address As Long, _
    ByVal count As Long, ByVal text As String, ByVal portName As String) As Long
Public Declare Function sSendBlack Lib "tarvex.dll" (ByVal addressWord As Long, _
    ByVal commandCode As Long, ByVal count As Long, ByRef entries As Byte, _
    ByVal portName As String) As Long

' ---- Combined and raw module exchanges (held ports) ----
Public Declare Function HANDLE_ComData Lib "tarvex.dll" (ByVal port As Long, ByVal n As Long, _
    ByRef frame As Byte, ByVal m As Long, ByRef block As Byte, ByVal replyLength As Long, _
    ByRef reply As Byte, ByVal limitMs As Long) As Long
Public Declare Function getDataUIM Lib "tarvex.dll" (ByVal port As Long, ByVal n As Long, _
    ByRef frame As Byte, ByVal replyLength As Long, ByRef reply As Byte, _
    ByVal limitMs As Long) As Long
Public Declare Function sam_GetData Lib "tarvex.dll" (ByVal port As Long, ByVal n As Long, _
    ByRef frame As Byte, ByVal replyLength As Long, ByRef reply As Byte, _
    ByVal limitMs As Long) As Long

' ---- On-line query (record: 7 bytes) ----
Public Declare Function onNet Lib "tarvex.dll" (ByVal address As Long, ByRef record As Byte, _
    ByVal portName As String) As Long
Public Declare Function HANDLE_OnNet Lib "tarvex.dll" (ByVal port As Long, _
    ByVal address As Long, ByRef record As Byte) As Long

' ---- Lock-code transforms and small codecs (no port; the first argument
' of the lock-code transforms is never read) ----
Public Declare Function keylock Lib "tarvex.dll" (ByVal ignored As Long, _
    ByRef plainCode As Byte, ByRef keyForm As Byte) As Long
Public Declare Function cardLock Lib "tarvex.dll" (ByVal ignored As Long, _
    ByRef plainCode As Byte, ByRef cardForm As Byte) As Long
Public Declare Function faka_485 Lib "tarvex.dll" (ByVal ignored As Long, _
    ByRef keyForms As Byte, ByRef cardForms As Byte) As Long
Public Declare Function faka_4852 Lib "tarvex.dll" (ByVal ignored As Long, _
    ByRef keyForms As Byte, ByRef plainCodes As Byte) As Long
Public Declare Function fakaUnlock Lib "tarvex.dll" (ByVal ignored As Long, _
    ByRef cardForms As Byte, ByRef keyForms As Byte) As Long
Public Declare Function abcd Lib "tarvex.dll" (ByRef digits As Byte, ByRef hexCode As Byte, _
    ByVal mode As Long) As Long
Public Declare Function change Lib "tarvex.dll" (ByRef inBytes As Byte, _
    ByRef outBytes As Byte) As Long
Public Declare Function ascc Lib "tarvex.dll" (ByRef inBytes As Byte, _
    ByRef outBytes As Byte) As Long
Public Declare Function MJExchangeData Lib "tarvex.dll" () As Long
