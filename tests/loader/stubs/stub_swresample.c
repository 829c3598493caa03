/* A libswresample without the one optional entry (swr_get_out_samples); the
   loader must bind it anyway. Only the names matter: nothing calls these. */
void swr_alloc(void) {}
void swr_alloc_set_opts2(void) {}
void swr_init(void) {}
void swr_is_initialized(void) {}
void swr_convert(void) {}
void swr_get_delay(void) {}
void swr_set_compensation(void) {}
void swr_free(void) {}
