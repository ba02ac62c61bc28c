// The smallest stand-in for Claude's executable: linked statically and does nothing, so that the time to start
// it is the floor against which the launcher's own cost shows.
int main()
{
    return 0;
}
