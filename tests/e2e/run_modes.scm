; Answers to each run mode that Script-Fu can send. Script-Fu hands back a
; status of PASS_THROUGH as the list (#f): neither an error (which CALLING and
; EXECUTION errors raise) nor a value list (which SUCCESS gives). The log
; lines of each mode are checked by scripts/e2e.sh in GIMP's output.

(define e2e-src (rect 2 2 10 8))
(define e2e-dst (rect 14 3 22 9))

(define (e2e-cases)
  (group "non-interactive"
    (lambda ()
      (let* ((im (make-image 24 12 RGBA-IMAGE 12 10 0 0 #f))
             (image (car im)) (layer (cadr im))
             (before (layers-of image))
             (answer (tessaform-run RUN-NONINTERACTIVE image layer e2e-src e2e-dst 0))
             (after (layers-of image)))
        (check "answers one value" 1 (length answer))
        (check "adds exactly one layer" (+ 1 (length before)) (length after))
        (check "the value is the ID of the added layer, on top"
               (cons (car answer) before) after))))

  (for-each
   (lambda (mode name)
     (group name
       (lambda ()
         (let* ((im (make-image 24 12 RGBA-IMAGE 12 10 0 0 #f))
                (image (car im)) (layer (cadr im))
                (before (layers-of image))
                (answer (catch 'error (tessaform-run mode image layer e2e-src e2e-dst 0))))
           (check "answers PASS_THROUGH, read by Script-Fu as (#f)" '(#f) answer)
           (check "creates no layer" before (layers-of image))))))
   (list RUN-INTERACTIVE RUN-WITH-LAST-VALS 3)
   (list "interactive" "with last values" "unknown run mode 3")))
