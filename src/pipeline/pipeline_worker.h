// The pipeline's workers: each takes the next filled slot, annotates its
// block into memory with an annotator of its own, and hands it to the writer.
#ifndef MOLSTAMP_PIPELINE_WORKER_H
#define MOLSTAMP_PIPELINE_WORKER_H

// A worker thread's body; arg is the Pipeline. Runs until the reader is done
// and every filled slot is taken.
void* worker_main(void* arg);

#endif
