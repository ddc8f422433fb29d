// TarvikDLL as a Java program may declare it: the three results unused.
public class TarvikDLL {
    static {
        System.loadLibrary("tarvikjava");
    }

    public static native long TarvikOpen(String port);
    public static native void TarvikSend(long port, int code, int model, int noWakeup);
    public static native int TarvikDecode(String name, int model);
    public static native void TarvikClose(long port);
    public static native void TarvikUseMMTimer(int on);

    public static void main(String[] args) {
        long port = TarvikOpen(args[0]);
        TarvikUseMMTimer(0);
        TarvikSend(port, TarvikDecode("stop", 2), 2, 1);
        TarvikClose(port);
        System.out.println(port >= 0 ? "1 passed, 0 failed" : "0 passed, 1 failed");
    }
}
