// binding/Entries.h — the process-wide entry slots through which the system
// calls the media libraries and the C library.
//
// The product never links the media libraries: the loader opens them at run
// time and fills one slot per bound name. Types come from the public headers;
// every call goes through lib().name(...). A slot is empty (nullptr) before
// its library is bound and after it is unbound.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/display.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <cstdio>
#include <cstdlib>
#include <cstring>

// Entry lists, one per library, in binding order. Each line is
//   F(name)  a required function,
//   O(name)  an optional function (its slot may stay empty),
//   V(name)  a required data entry (the slot holds the object's address).
// To bind another function, add it to its library's list; the slot, the
// binding and the unbinding follow from the list.

#define TW_AVCODEC_ENTRIES(F, O, V)    \
    F(avcodec_version)                 \
    F(avcodec_alloc_context3)          \
    F(avcodec_free_context)            \
    F(avcodec_is_open)                 \
    F(avcodec_get_class)               \
    F(avcodec_open2)                   \
    F(avcodec_parameters_alloc)        \
    F(avcodec_parameters_free)         \
    F(avcodec_parameters_copy)         \
    F(avcodec_parameters_from_context) \
    F(avcodec_parameters_to_context)   \
    F(avcodec_send_packet)             \
    F(avcodec_receive_frame)           \
    F(avcodec_send_frame)              \
    F(avcodec_receive_packet)          \
    F(avcodec_flush_buffers)           \
    F(avcodec_decode_subtitle2)        \
    F(avcodec_encode_subtitle)         \
    F(avsubtitle_free)                 \
    F(avcodec_find_decoder)            \
    F(avcodec_find_decoder_by_name)    \
    F(avcodec_find_encoder)            \
    F(avcodec_find_encoder_by_name)    \
    F(av_codec_iterate)                \
    F(av_codec_is_encoder)             \
    F(av_codec_is_decoder)             \
    F(avcodec_descriptor_get)          \
    F(avcodec_descriptor_get_by_name)  \
    F(avcodec_get_name)                \
    F(avcodec_string)                  \
    F(av_get_profile_name)             \
    F(avcodec_align_dimensions2)       \
    F(av_get_bits_per_sample)          \
    F(av_get_exact_bits_per_sample)    \
    F(av_get_audio_frame_duration2)    \
    F(av_packet_alloc)                 \
    F(av_packet_free)                  \
    F(av_packet_ref)                   \
    F(av_packet_unref)                 \
    F(av_packet_move_ref)              \
    F(av_packet_make_writable)         \
    F(av_packet_clone)                 \
    F(av_packet_copy_props)            \
    F(av_packet_rescale_ts)            \
    F(av_packet_get_side_data)         \
    F(av_packet_new_side_data)         \
    F(av_new_packet)                   \
    F(av_shrink_packet)                \
    F(av_bsf_get_by_name)              \
    F(av_bsf_iterate)                  \
    F(av_bsf_alloc)                    \
    F(av_bsf_init)                     \
    F(av_bsf_send_packet)              \
    F(av_bsf_receive_packet)           \
    F(av_bsf_flush)                    \
    F(av_bsf_free)                     \
    F(av_bsf_list_parse_str)           \
    F(av_bsf_get_null_filter)

// libswresample holds what the 2011 libavcore and libavcodec offered for
// audio resampling and sample-format conversion.
#define TW_AVCORE_ENTRIES(F, O, V) \
    F(swr_alloc)                   \
    F(swr_alloc_set_opts2)         \
    F(swr_init)                    \
    F(swr_is_initialized)          \
    F(swr_convert)                 \
    F(swr_get_delay)               \
    F(swr_set_compensation)        \
    F(swr_free)                    \
    O(swr_get_out_samples)

#define TW_AVDEVICE_ENTRIES(F, O, V) F(avdevice_register_all)

#define TW_AVFILTER_ENTRIES(F, O, V) \
    F(avfilter_get_by_name)          \
    F(avfilter_graph_alloc)          \
    F(avfilter_graph_create_filter)  \
    F(avfilter_graph_alloc_filter)   \
    F(avfilter_init_str)             \
    F(avfilter_graph_parse_ptr)      \
    F(avfilter_graph_config)         \
    F(avfilter_graph_free)           \
    F(avfilter_link)                 \
    F(avfilter_inout_alloc)          \
    F(avfilter_inout_free)           \
    F(av_buffersrc_add_frame_flags)  \
    F(av_buffersrc_parameters_alloc) \
    F(av_buffersrc_parameters_set)   \
    F(av_buffersink_get_frame)       \
    F(av_buffersink_get_frame_flags) \
    F(av_buffersink_get_w)           \
    F(av_buffersink_get_h)           \
    F(av_buffersink_get_time_base)

#define TW_AVFORMAT_ENTRIES(F, O, V)  \
    F(avformat_version)               \
    F(avformat_alloc_context)         \
    F(avformat_free_context)          \
    F(avformat_alloc_output_context2) \
    F(avformat_open_input)            \
    F(avformat_close_input)           \
    F(avformat_find_stream_info)      \
    F(avformat_new_stream)            \
    F(avformat_write_header)          \
    F(avformat_seek_file)             \
    F(avformat_query_codec)           \
    F(av_stream_get_side_data)        \
    F(av_stream_new_side_data)        \
    F(av_new_program)                 \
    F(av_program_add_stream_index)    \
    F(avformat_get_class)             \
    F(av_find_best_stream)            \
    F(av_find_input_format)           \
    F(av_guess_format)                \
    F(av_guess_codec)                 \
    F(av_demuxer_iterate)             \
    F(av_muxer_iterate)               \
    F(av_codec_get_id)                \
    F(av_codec_get_tag2)              \
    F(av_codec_get_tag)               \
    F(av_filename_number_test)        \
    F(av_read_frame)                  \
    F(av_read_pause)                  \
    F(av_read_play)                   \
    F(av_seek_frame)                  \
    F(av_interleaved_write_frame)     \
    F(av_write_frame)                 \
    F(av_write_trailer)               \
    F(av_dump_format)                 \
    F(av_sdp_create)                  \
    F(av_pkt_dump_log2)               \
    F(avio_open2)                     \
    F(avio_closep)                    \
    F(avio_alloc_context)             \
    F(avio_context_free)              \
    F(avio_size)                      \
    F(avio_seek)                      \
    F(avio_write)                     \
    F(avio_flush)                     \
    F(avio_feof)                      \
    F(avio_read)                      \
    F(avio_enum_protocols)            \
    F(avio_find_protocol_name)        \
    F(avformat_network_init)          \
    F(avformat_network_deinit)

#define TW_AVUTIL_ENTRIES(F, O, V)      \
    F(avutil_version)                   \
    F(av_log)                           \
    F(av_vlog)                          \
    F(av_log_default_callback)          \
    F(av_display_rotation_get)          \
    F(av_display_rotation_set)          \
    F(av_log_get_level)                 \
    F(av_log_set_level)                 \
    F(av_log_set_callback)              \
    F(av_log_set_flags)                 \
    F(av_default_item_name)             \
    F(av_strerror)                      \
    F(av_malloc)                        \
    F(av_mallocz)                       \
    F(av_realloc)                       \
    F(av_free)                          \
    F(av_freep)                         \
    F(av_strdup)                        \
    F(av_fast_malloc)                   \
    F(av_fast_realloc)                  \
    F(av_strlcpy)                       \
    F(av_strstart)                      \
    F(av_compare_ts)                    \
    F(av_gcd)                           \
    F(av_reduce)                        \
    F(av_rescale)                       \
    F(av_rescale_q)                     \
    F(av_rescale_q_rnd)                 \
    F(av_rescale_rnd)                   \
    F(av_d2q)                           \
    F(av_find_nearest_q_idx)            \
    F(av_gettime)                       \
    F(av_gettime_relative)              \
    F(av_usleep)                        \
    F(av_dict_get)                      \
    F(av_dict_set)                      \
    F(av_dict_set_int)                  \
    F(av_dict_copy)                     \
    F(av_dict_count)                    \
    F(av_dict_free)                     \
    F(av_opt_find)                      \
    F(av_opt_find2)                     \
    F(av_opt_next)                      \
    F(av_opt_child_class_iterate)       \
    F(av_opt_set)                       \
    F(av_opt_set_int)                   \
    F(av_opt_set_double)                \
    F(av_opt_set_q)                     \
    F(av_opt_set_bin)                   \
    F(av_opt_set_dict)                  \
    F(av_opt_set_dict2)                 \
    F(av_opt_set_defaults)              \
    F(av_opt_get)                       \
    F(av_opt_get_int)                   \
    F(av_opt_get_double)                \
    F(av_opt_get_q)                     \
    F(av_opt_free)                      \
    F(av_opt_copy)                      \
    F(av_opt_show2)                     \
    F(av_parse_video_rate)              \
    F(av_parse_video_size)              \
    F(av_parse_ratio)                   \
    F(av_parse_time)                    \
    F(av_get_pix_fmt)                   \
    F(av_get_pix_fmt_name)              \
    F(av_get_pix_fmt_string)            \
    F(av_pix_fmt_desc_get)              \
    F(av_pix_fmt_desc_next)             \
    F(av_pix_fmt_desc_get_id)           \
    F(av_pix_fmt_get_chroma_sub_sample) \
    F(av_get_bits_per_pixel)            \
    F(av_get_sample_fmt)                \
    F(av_get_sample_fmt_name)           \
    F(av_get_sample_fmt_string)         \
    F(av_get_bytes_per_sample)          \
    F(av_get_packed_sample_fmt)         \
    F(av_get_planar_sample_fmt)         \
    F(av_sample_fmt_is_planar)          \
    F(av_samples_get_buffer_size)       \
    F(av_samples_alloc)                 \
    F(av_samples_fill_arrays)           \
    F(av_samples_set_silence)           \
    F(av_samples_copy)                  \
    F(av_channel_layout_default)        \
    F(av_channel_layout_copy)           \
    F(av_channel_layout_uninit)         \
    F(av_channel_layout_compare)        \
    F(av_channel_layout_describe)       \
    F(av_channel_layout_from_mask)      \
    F(av_channel_layout_from_string)    \
    F(av_get_picture_type_char)         \
    F(av_get_media_type_string)         \
    F(av_image_alloc)                   \
    F(av_image_copy)                    \
    F(av_image_fill_arrays)             \
    F(av_image_get_buffer_size)         \
    F(av_image_check_size)              \
    F(av_frame_alloc)                   \
    F(av_frame_free)                    \
    F(av_frame_ref)                     \
    F(av_frame_unref)                   \
    F(av_frame_move_ref)                \
    F(av_frame_get_buffer)              \
    F(av_frame_make_writable)           \
    F(av_frame_copy_props)              \
    F(av_frame_clone)                   \
    F(av_audio_fifo_alloc)              \
    F(av_audio_fifo_free)               \
    F(av_audio_fifo_write)              \
    F(av_audio_fifo_read)               \
    F(av_audio_fifo_size)               \
    F(av_audio_fifo_drain)              \
    F(av_audio_fifo_reset)              \
    F(av_fifo_alloc2)                   \
    F(av_fifo_freep2)                   \
    F(av_fifo_can_read)                 \
    F(av_fifo_grow2)                    \
    F(av_fifo_auto_grow_limit)          \
    F(av_fifo_write)                    \
    F(av_fifo_read)                     \
    F(av_fifo_drain2)                   \
    F(av_fifo_reset2)

#define TW_SWSCALE_ENTRIES(F, O, V) \
    F(sws_getContext)               \
    F(sws_getCachedContext)         \
    F(sws_scale)                    \
    F(sws_freeContext)              \
    F(sws_get_class)

// The C library plays the part of the platform run-time library: file
// streams, number parsing and formatting (the logger formats library
// messages with its snprintf/vsnprintf).
#define TW_LIBC_ENTRIES(F, O, V) \
    F(fclose)                    \
    F(fopen)                     \
    F(fprintf)                   \
    F(fread)                     \
    F(fseek)                     \
    F(ftell)                     \
    F(fwrite)                    \
    F(fflush)                    \
    F(snprintf)                  \
    F(strtod)                    \
    F(strtok_r)                  \
    F(strtol)                    \
    F(vsnprintf)                 \
    V(stderr)

namespace tw {

/// One slot per bound name; see the entry lists above.
struct TEntries {
#define TW_SLOT_F(name) decltype(&::name) name = nullptr;
#define TW_SLOT_V(name) decltype(&::name) name##_ptr = nullptr;
    TW_AVCODEC_ENTRIES(TW_SLOT_F, TW_SLOT_F, TW_SLOT_V)
    TW_AVCORE_ENTRIES(TW_SLOT_F, TW_SLOT_F, TW_SLOT_V)
    TW_AVDEVICE_ENTRIES(TW_SLOT_F, TW_SLOT_F, TW_SLOT_V)
    TW_AVFILTER_ENTRIES(TW_SLOT_F, TW_SLOT_F, TW_SLOT_V)
    TW_AVFORMAT_ENTRIES(TW_SLOT_F, TW_SLOT_F, TW_SLOT_V)
    TW_AVUTIL_ENTRIES(TW_SLOT_F, TW_SLOT_F, TW_SLOT_V)
    TW_SWSCALE_ENTRIES(TW_SLOT_F, TW_SLOT_F, TW_SLOT_V)
    TW_LIBC_ENTRIES(TW_SLOT_F, TW_SLOT_F, TW_SLOT_V)
#undef TW_SLOT_F
#undef TW_SLOT_V
};

/// The process-wide slots. Filled by the loader on the loading thread; read
/// without synchronisation by every thread once loading has completed.
extern TEntries gEntries;
inline TEntries& lib() { return gEntries; }

}  // namespace tw
