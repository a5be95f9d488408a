// The DLL that the dependent COM server imports; it is found only when it
// sits in the current directory of the load or beside that server.
extern "C" __declspec(dllexport) int OvComDepAnswer()
{
   return 42;
}
