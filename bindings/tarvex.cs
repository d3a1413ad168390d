// tarvex for C# hosts: every entry point of tarvex.h as a P/Invoke declaration,
// plus the result codes. Compile it into the host (mcs Host.cs tarvex.cs, or
// add it to the project); docs/HOSTS.md shows a complete host.
//
// What the class does and does not do:
// - Each method calls the entry point of the same name once and returns its
//   result as it is; nothing is checked, retried or thrown here.
// - "tarvex" is tarvex.dll on Windows. On Linux, mono maps it to
//   libtarvex.so.2 through the dllmap in tarvex.dllmap.config, copied beside
//   the program as <Program>.exe.config: the runtime package alone then
//   serves (the unversioned libtarvex.so lives in the -dev package).
// - Winapi is __stdcall on 32-bit Windows, where the DLL uses it and the
//   difference matters, and the platform's C convention everywhere else.
// - byte[] arguments go as a pointer to their first element, so what the
//   library writes (checksums, replies, records, transform outputs) lands in
//   the host's array. Size them as tarvex.h says: a frame of n bytes needs
//   n + 1, a reply of N bytes N + 1.
// - Strings go as 8-bit, NUL-terminated copies (port names, hex text in).
//   Hex text out (getdata_hex) comes without a terminator, so it is a byte[].
// - SetLastError keeps the system's reason of a failed call:
//   Marshal.GetLastWin32Error() (GetLastError on Windows, errno on Linux).
// - The legacy build has ten of these entry points; calling any other throws
//   EntryPointNotFoundException.
using System.Runtime.InteropServices;

public static class Tarvex
{
    const string Library = "tarvex";
    const CallingConvention Convention = CallingConvention.Winapi;
    const CharSet Text = CharSet.Ansi;

    // Result codes.
    public const int Ok = 0;
    public const int LockRejected = 1;
    public const int FrameNotSent = 2;
    public const int ReplyIncomplete = 3;
    public const int ReplyWrong = 4;
    public const int SecondFrameNotSent = 5;
    public const int EmptyOrNotDrained = 6;
    public const int SecondReplyIncomplete = 7;
    public const int SecondReplyWrong = 8;

    // What a failed com_init returns.
    public const uint InvalidPort = 0xFFFFFFFF;

    // ---- Held ports ----
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern uint com_init(string portName, uint baud);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true, SetLastError = true)]
    public static extern int com_exit(uint port);

    // ---- Request and reply ----
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int getdata(int n, [In, Out] byte[] frame, int replyLength,
                                     [In, Out] byte[] reply, string portName);
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int nGetData(int n, [In, Out] byte[] frame, int replyLength,
                                      [In, Out] byte[] reply, string portName, uint baud,
                                      uint limitMs);
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int dxGetdata(int n, [In, Out] byte[] frame, int replyLength,
                                       [In, Out] byte[] reply, string portName);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true, SetLastError = true)]
    public static extern int Nget(int n, [In, Out] byte[] frame, int replyLength,
                                  [In, Out] byte[] reply, uint port);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true, SetLastError = true)]
    public static extern int HANDLE_GetData(uint port, int n, [In, Out] byte[] frame,
                                            int replyLength, [In, Out] byte[] reply, uint limitMs);

    // ---- Command with data block ----
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int senddata(int n, [In, Out] byte[] frame, int m, [In, Out] byte[] block,
                                      string portName);
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int nSendData(int n, [In, Out] byte[] frame, int m, [In, Out] byte[] block,
                                       string portName, uint baud, uint limitMs);
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int dxSenddata(int n, [In, Out] byte[] frame, int m, [In, Out] byte[] block,
                                        string portName);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true, SetLastError = true)]
    public static extern int Nsend(int n, [In, Out] byte[] frame, int m, [In, Out] byte[] block,
                                   uint port);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true, SetLastError = true)]
    public static extern int HANDLE_SendData(uint port, int n, [In, Out] byte[] frame, int m,
                                             [In, Out] byte[] block, uint limitMs);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true, SetLastError = true)]
    public static extern int sendDataUIM(uint port, int n, [In, Out] byte[] frame, int m,
                                         [In, Out] byte[] block, uint limitMs);

    // ---- Hex text ----
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int getdata_hex(int n, string commandText, int replyLength,
                                         [Out] byte[] replyText, string portName);
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int senddata_hex(int n, string commandText, int blockLength,
                                          string blockText, string portName);

    // ---- Blacklist download ----
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int sendBlack(int address, int count, [In] byte[] entries, string portName);
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int sendBlack_hex(int address, int count, string text, string portName);
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int sSendBlack(int addressWord, int commandCode, int count,
                                        [In] byte[] entries, string portName);

    // ---- Combined and raw module exchanges (held ports) ----
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true, SetLastError = true)]
    public static extern int HANDLE_ComData(uint port, int n, [In, Out] byte[] frame, int m,
                                            [In, Out] byte[] block, int replyLength,
                                            [In, Out] byte[] reply, uint limitMs);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true, SetLastError = true)]
    public static extern int getDataUIM(uint port, int n, [In] byte[] frame, int replyLength,
                                        [In, Out] byte[] reply, uint limitMs);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true, SetLastError = true)]
    public static extern int sam_GetData(uint port, int n, [In] byte[] frame, int replyLength,
                                         [In, Out] byte[] reply, uint limitMs);

    // ---- On-line query (record: 7 bytes) ----
    [DllImport(Library, CallingConvention = Convention, CharSet = Text, ExactSpelling = true, SetLastError = true)]
    public static extern int onNet(int address, [In, Out] byte[] record, string portName);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true, SetLastError = true)]
    public static extern int HANDLE_OnNet(uint port, int address, [In, Out] byte[] record);

    // ---- Lock-code transforms and small codecs (no port) ----
    // The first argument of the lock-code transforms is never read.
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
    public static extern int keylock(int ignored, [In] byte[] plainCode, [In, Out] byte[] keyForm);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
    public static extern int cardLock(int ignored, [In] byte[] plainCode, [In, Out] byte[] cardForm);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
    public static extern int faka_485(int ignored, [In] byte[] keyForms, [In, Out] byte[] cardForms);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
    public static extern int faka_4852(int ignored, [In] byte[] keyForms, [In, Out] byte[] plainCodes);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
    public static extern int fakaUnlock(int ignored, [In] byte[] cardForms, [In, Out] byte[] keyForms);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
    public static extern int abcd([In] byte[] digits, [In, Out] byte[] hexCode, int mode);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
    public static extern int change([In] byte[] input, [In, Out] byte[] output);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
    public static extern int ascc([In] byte[] input, [In, Out] byte[] output);
    [DllImport(Library, CallingConvention = Convention, ExactSpelling = true)]
    public static extern int MJExchangeData();
}
