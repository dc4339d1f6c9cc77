; A call killed in the middle of a large warp leaves the image as it was.
; scripts/e2e.sh runs a watcher beside GIMP: once this file writes the
; "kill-armed" marker, it waits until the plug-in has worked a while and
; sends it SIGKILL. Expect one "Plug-in crashed" (or, killed mid-transfer,
; one wire error) in GIMP's output.

(define (e2e-tree image)
  (map (lambda (item)
         (list item (car (gimp-item-get-name item))
               (if (= 1 (car (gimp-item-is-group item))) (children-of item) '())))
       (layers-of image)))

(define (e2e-arm-kill)
  (let ((port (open-output-file (string-append (getenv "E2E_RESULTS") "/kill-armed"))))
    (display "armed" port)
    (close-output-port port)))

(define (e2e-cases)
  (group "killed mid-render"
    (lambda ()
      (let* ((im (make-image 600 600 GRAY-IMAGE 600 600 0 0 #f))
             (image (car im)) (src (cadr im))
             (group-layer (car (gimp-layer-group-new image)))
             (top (car (gimp-layer-new image 8 8 GRAY-IMAGE "top" 100 LAYER-MODE-NORMAL))))
        (gimp-image-insert-layer image group-layer 0 0)
        (gimp-image-reorder-item image src group-layer 0)
        (gimp-image-insert-layer image top 0 0)
        (let ((before (e2e-tree image)))
          (e2e-arm-kill)
          ; About 150 million destination pixels: seconds of work, killed
          ; after about one second of it.
          (check "the killed call fails" #f
                 (tessaform-caught image src (rect 0 0 600 600)
                                   (rect 0 0 12000 12000) 1))
          (check "layer tree as before" before (e2e-tree image))
          ; GIMP keeps the unfinished layer outside the image until it quits;
          ; deleting it spares the leaked-buffer warning at the end.
          (for-each (lambda (id)
                      (if (and (= 1 (car (gimp-item-is-valid id)))
                               (= image (car (gimp-item-get-image id)))
                               (= -1 (car (gimp-item-get-parent id)))
                               (not (memv id (layers-of image))))
                          (gimp-item-delete id)))
                    (map (lambda (i) (+ top i 1)) (iota 20)))
          ; The plug-in starts afresh for the next call.
          (let ((layer (tessaform image src (rect 0 0 600 600) (rect 0 0 60 60) 1)))
            (check "the next call adds its layer into the group"
                   (list layer src) (children-of group-layer))))))))
