/* A hook module that forgot its Process entry point. */
int Configure(void** ctxp, int argc, char* argv[]) {
    (void)ctxp;
    (void)argc;
    (void)argv;
    return 0;
}
