// The pipeline's writer: brings the annotated blocks onto the serial road
// in input order.
#ifndef MOLSTAMP_PIPELINE_WRITER_H
#define MOLSTAMP_PIPELINE_WRITER_H

// The writer thread's body; arg is the Pipeline. Runs until every block the
// reader handed out is back in a free slot; after a failure it only hands
// them back, and sets the pipeline's stop.
void* writer_main(void* arg);

#endif
