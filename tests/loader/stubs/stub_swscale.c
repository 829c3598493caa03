/* A libswscale that lacks one required entry (sws_scale); the loader must
   refuse it. Only the names matter: nothing calls these. */
void sws_getContext(void) {}
void sws_getCachedContext(void) {}
void sws_freeContext(void) {}
void sws_get_class(void) {}
