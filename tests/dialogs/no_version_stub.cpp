// An empty program; the version reader's tests read its file, built with or without a
// version resource.
int main()
{
    return 0;
}
